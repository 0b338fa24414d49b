#include <gtest/gtest.h>
#include <pcap/pcap.h>
#include <poll.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "core/capture/CSnmpAdapterList.h"
#include "core/capture/CaptureFileReader.h"
#include "core/capture/SystemInterfaceTable.h"
#include "core/detect/SuffixListFile.h"
#include "core/session/MonitorSession.h"
#include "support/NetnsPair.h"
#include "support/TcpExchange.h"

using namespace std::chrono_literals;

namespace {

// Tells when the session's capture runs and when its rows change. The limits only keep a
// broken build from hanging.
class SessionEvents {
  public:
    SessionCallbacks callbacks() {
        SessionCallbacks callbacks;
        callbacks.captureStatus = [this](const CaptureStatus& status, int) {
            std::lock_guard lock(mutex_);
            running_ = status.state == CaptureStatus::kRunning;
            changed_.notify_all();
        };
        callbacks.rowsChanged = [this] {
            std::lock_guard lock(mutex_);
            changed_.notify_all();
        };
        return callbacks;
    }
    bool WaitRunning() {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, 10s, [&] { return running_; });
    }
    // Taking the changes makes the next one wake us again.
    bool WaitRows(MonitorSession& session, int rows) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, 30s, [&] {
            session.takeChanges();
            return session.rowCount() >= rows;
        });
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool running_ = false;
};

std::vector<std::string> urls(const MonitorSession& session) {
    std::vector<std::string> result;
    for (int row = 0; row < session.rowCount(); ++row) {
        result.push_back(session.url(row));
    }
    return result;
}
// An unfiltered recording of everything on the server's link, for the capture-file path.
class LinkRecorder {
  public:
    LinkRecorder(const NetnsPair& pair, const std::string& path) {
        pair.RunIn(pair.serverNs(), [&] {
            char error[PCAP_ERRBUF_SIZE];
            handle_ = pcap_create(pair.serverIf().c_str(), error);
            if (handle_) {
                pcap_set_snaplen(handle_, 262144);
                pcap_set_immediate_mode(handle_, 1);
                // Read only at the end: every burst takes a block of the kernel's ring, and the
                // default ring is full after a few.
                pcap_set_buffer_size(handle_, 64 << 20);
                pcap_set_promisc(handle_, 1);
                if (pcap_activate(handle_) < 0) {
                    pcap_close(handle_);
                    handle_ = nullptr;
                }
            }
        });
        if (handle_) {
            pcap_setnonblock(handle_, 1, nullptr);
            dumper_ = pcap_dump_open(handle_, path.c_str());
        }
    }
    ~LinkRecorder() {
        if (dumper_) {
            pcap_dump_close(dumper_);
        }
        if (handle_) {
            pcap_close(handle_);
        }
    }
    bool ok() const { return dumper_ != nullptr; }

    // Writes what the kernel gives us until a packet holding `last` is written: what the
    // live capture saw up to then. The limit only keeps a broken build from hanging.
    bool DrainThrough(const std::string& last) {
        lastText_ = last;
        lastSeen_ = false;
        const pollfd watched{pcap_get_selectable_fd(handle_), POLLIN, 0};
        for (int polls = 0; !lastSeen_ && polls < 100; ++polls) {
            pollfd ready = watched;
            ::poll(&ready, 1, 100);
            pcap_dispatch(handle_, -1, &LinkRecorder::Write, reinterpret_cast<u_char*>(this));
        }
        pcap_dump_flush(dumper_);
        return lastSeen_;
    }

  private:
    static void Write(u_char* user, const pcap_pkthdr* header, const u_char* bytes) {
        auto* self = reinterpret_cast<LinkRecorder*>(user);
        pcap_dump(reinterpret_cast<u_char*>(self->dumper_), header, bytes);
        const std::string_view frame(reinterpret_cast<const char*>(bytes), header->caplen);
        self->lastSeen_ = self->lastSeen_ || frame.find(self->lastText_) != frame.npos;
    }

    std::string lastText_;
    bool lastSeen_ = false;
    pcap_t* handle_ = nullptr;
    pcap_dumper_t* dumper_ = nullptr;
};

// The capture-file path, as `quorvex-cli detect` reads a file.
void detectFromFile(const std::string& path, MonitorSession& session) {
    CaptureFileReader reader;
    ASSERT_TRUE(reader.open(path)) << reader.error();
    std::vector<CapturedPacket> packets(1);
    std::vector<MonitorSession::Detection> detections;
    while (reader.next(packets[0]) == CaptureFileReader::Status::Packet) {
        session.feed(packets, detections);
    }
}

}  // namespace

TEST(LiveDetection, MediaRequestsOnTheLinkBecomeRowsAsInTheCaptureFile) {
    NetnsPair pair;
    QVX_REQUIRE_NETNS(pair);
    AdapterEntry adapter{};
    pair.RunIn(pair.serverNs(), [&] {
        SystemInterfaceTable system;
        std::vector<AdapterEntry> entries;
        ASSERT_EQ(CSnmpAdapterList::ListAdapters(system, entries), 1);
        adapter = entries[0];
    });

    SessionEvents running;
    MonitorSession live(running.callbacks());
    live.setSuffixTable(SuffixTable::withKnownSuffixes());
    std::string recording =
        (std::filesystem::temp_directory_path() / ("qvx-live-" + pair.serverNs() + ".pcap"))
            .string();
    LinkRecorder recorder(pair, recording);
    ASSERT_TRUE(recorder.ok());
    pair.RunIn(pair.serverNs(), [&] { live.start(adapter); });
    ASSERT_TRUE(running.WaitRunning()) << live.captureStatus().message;

    const std::string ok = "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\n";
    ASSERT_TRUE(TcpExchange(pair, 80,
                            "GET /movies/trailer.wmv HTTP/1.1\r\nHost: media.test\r\n\r\n",
                            ok + "<p>no media here</p>"));
    ASSERT_TRUE(TcpExchange(pair, 554,
                            "DESCRIBE rtsp://cam.test/live/stream.asf RTSP/1.0\r\nCSeq: 1\r\n\r\n",
                            "RTSP/1.0 200 OK\r\nCSeq: 1\r\n\r\n"));
    ASSERT_TRUE(TcpExchange(pair, 80, "GET /index.html HTTP/1.1\r\nHost: portal.test\r\n\r\n",
                            ok + "<a href=\"mms://wm.test/clips/show.asf\">show</a>"));
    ASSERT_TRUE(
        TcpExchange(pair, 8080, "GET /elsewhere/skip.wmv HTTP/1.1\r\nHost: x.test\r\n\r\n", ok));
    // Seen last: once it is a row, whatever came before it has been read.
    ASSERT_TRUE(TcpExchange(pair, 80, "GET /last.wmv HTTP/1.1\r\nHost: media.test\r\n\r\n", ok));
    ASSERT_TRUE(running.WaitRows(live, 4));
    ASSERT_TRUE(recorder.DrainThrough("GET /last.wmv"));
    live.stop();

    std::vector<std::string> found = urls(live);
    EXPECT_EQ(found, (std::vector<std::string>{
                         "http://media.test/movies/trailer.wmv", "rtsp://cam.test/live/stream.asf",
                         "mms://wm.test/clips/show.asf", "http://media.test/last.wmv"}));
    if (live.rowCount() > 0) {
        DetectedStream first;
        ASSERT_TRUE(live.copyRecord(0, first));
        EXPECT_EQ(std::memcmp(first.adapterInfo, adapter.physAddress, 6), 0)
            << "records carry the selected adapter";
    }

    MonitorSession fromFile{SessionCallbacks{}};
    fromFile.setSuffixTable(SuffixTable::withKnownSuffixes());
    detectFromFile(recording, fromFile);
    std::filesystem::remove(recording);
    EXPECT_EQ(urls(fromFile), found) << "the kernel filter must not change what is found";
}

// Linux clients send TCP timestamps on every segment, over IPv4 and IPv6 alike: every request
// must become a row, whatever bytes the options hold. The IPv6 run captures on the adapter
// chosen by its IPv6 address alone, with an added port.
TEST(LiveDetection, EveryTimestampedRequestBecomesARowOverIpv4AndIpv6) {
    NetnsPair pair;
    QVX_REQUIRE_NETNS(pair);
    AdapterEntry adapter{};
    pair.RunIn(pair.serverNs(), [&] {
        SystemInterfaceTable system;
        std::vector<AdapterEntry> entries;
        ASSERT_EQ(CSnmpAdapterList::ListAdapters(system, entries), 1);
        adapter = entries[0];
    });
    AdapterEntry byIpv6 = adapter;
    std::memset(byIpv6.address, 0, sizeof byIpv6.address);
    ASSERT_TRUE(IsIpv6Only(byIpv6));
    ASSERT_NE(byIpv6.address6[0], 0) << "the adapter carries its global IPv6 address";

    constexpr int kRequests = 400;
    for (bool ipv6 : {false, true}) {
        SessionEvents running;
        MonitorSession live(running.callbacks());
        live.setSuffixTable(SuffixTable::withKnownSuffixes());
        WatchedPorts ports;
        ports.add(8000);
        live.setWatchedPorts(ports);
        pair.RunIn(pair.serverNs(), [&] { live.start(ipv6 ? byIpv6 : adapter); });
        ASSERT_TRUE(running.WaitRunning()) << live.captureStatus().message;
        std::vector<std::string> expected;
        for (int i = 0; i < kRequests; ++i) {
            std::uint16_t port = i % 4 == 3 ? 8000 : 80;
            std::string path = "/clips/" + std::to_string(i) + ".wmv";
            std::string query = "?sig=" + std::to_string(i * 7919) + "&exp=1";
            ASSERT_TRUE(TcpExchange(pair, port,
                                    "GET " + path + query + " HTTP/1.1\r\nHost: media.test\r\n\r\n",
                                    "HTTP/1.0 404 Not Found\r\n\r\n", ipv6))
                << i;
            expected.push_back("http://media.test" + path + query);
        }
        running.WaitRows(live, kRequests);
        live.stop();
        EXPECT_EQ(urls(live), expected) << (ipv6 ? "IPv6" : "IPv4");
        DetectedStream first;
        ASSERT_TRUE(live.copyRecord(0, first));
        EXPECT_EQ(IsIpv6(first), ipv6);
        EXPECT_EQ(first.dataOffset >> 4, 8) << "20 bytes of header and 12 of timestamps";
    }
}

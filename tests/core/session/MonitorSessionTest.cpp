#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "core/detect/SuffixTable.h"
#include "core/session/MonitorSession.h"

#include "core/download/common/TransferText.h"
#include "support/CaseName.h"
#include "support/FixtureServer.h"
#include "support/TestPackets.h"

using namespace std::chrono_literals;

namespace {

CapturedPacket request(const std::string& path, const std::string& host = "S") {
    return test_packets::packet(
        test_packets::datagram("GET " + path + " HTTP/1.1\r\nHost: " + host + "\r\n\r\n"));
}

// What the session told, collected from its threads.
class Reports {
  public:
    SessionCallbacks callbacks() {
        SessionCallbacks callbacks;
        callbacks.rowsChanged = [this] { note([&] { ++wakes_; }); };
        callbacks.captureStatus = [this](const CaptureStatus& status, int run) {
            note([&] { statuses_.push_back({status.state, run}); });
        };
        callbacks.downloadEnded = [this](int row, const DownloadOutcome& outcome) {
            note([&] { ends_.push_back({row, outcome}); });
        };
        callbacks.showMessage = [this](const std::string& text) {
            note([&] { messages_.push_back(text); });
        };
        return callbacks;
    }
    int wakes() {
        std::lock_guard lock(mutex_);
        return wakes_;
    }
    std::vector<std::pair<CaptureStatus::State, int>> statuses() {
        std::lock_guard lock(mutex_);
        return statuses_;
    }
    std::vector<std::string> messages() {
        std::lock_guard lock(mutex_);
        return messages_;
    }
    // The first download end, waited for.
    bool WaitEnd(std::pair<int, DownloadOutcome>& end) {
        std::unique_lock lock(mutex_);
        if (!changed_.wait_for(lock, 20s, [&] { return !ends_.empty(); })) {
            return false;
        }
        end = ends_.front();
        return true;
    }

  private:
    template <typename F>
    void note(F change) {
        std::lock_guard lock(mutex_);
        change();
        changed_.notify_all();
    }
    std::mutex mutex_;
    std::condition_variable changed_;
    int wakes_ = 0;
    std::vector<std::pair<CaptureStatus::State, int>> statuses_;
    std::vector<std::pair<int, DownloadOutcome>> ends_;
    std::vector<std::string> messages_;
};

struct FeedCase {
    const char* name;
    std::vector<std::pair<std::string, std::string>> requests;  // path, host
    std::vector<std::string> rows;                              // URLs, in order
    std::vector<bool> added;                                    // per detection
};

const FeedCase kFeedCases[] = {
    {"OneRequestOneRow", {{"/a.wmv", "S"}}, {"http://S/a.wmv"}, {true}},
    {"NotMediaNoRow", {{"/index.html", "S"}}, {}, {}},
    {"RepeatKeepsOneRow", {{"/a.wmv", "S"}, {"/a.wmv", "S"}}, {"http://S/a.wmv"}, {true, false}},
    {"HostAndCaseMakeRows",
     {{"/a.wmv", "S"}, {"/a.wmv", "T"}, {"/A.wmv", "S"}},
     {"http://S/a.wmv", "http://T/a.wmv", "http://S/A.wmv"},
     {true, true, true}},
    {"MissesBetweenHits",
     {{"/x.txt", "S"}, {"/a.asf", "S"}, {"/y.txt", "S"}, {"/a.asf", "S"}},
     {"http://S/a.asf"},
     {true, false}},
};

class SessionFeed : public testing::TestWithParam<FeedCase> {};

TEST_P(SessionFeed, PacketsBecomeRowsOncePerHostAndPath) {
    const FeedCase& c = GetParam();
    Reports reports;
    MonitorSession session(reports.callbacks());
    session.setSuffixTable(SuffixTable::withKnownSuffixes());
    std::vector<CapturedPacket> packets;
    for (const auto& [path, host] : c.requests) {
        packets.push_back(request(path, host));
    }
    std::vector<MonitorSession::Detection> detections;
    session.feed(packets, detections);

    std::vector<bool> added;
    for (const auto& detection : detections) {
        added.push_back(detection.added);
        EXPECT_EQ(session.url(detection.row),
                  std::string(detection.record().host) + detection.record().path);
    }
    EXPECT_EQ(added, c.added);
    std::vector<std::string> rows;
    for (int row = 0; row < session.rowCount(); ++row) {
        rows.push_back(session.url(row));
    }
    EXPECT_EQ(rows, c.rows);
    EXPECT_EQ(reports.wakes(), c.rows.empty() ? 0 : 1) << "one wake per batch of news";
}

INSTANTIATE_TEST_SUITE_P(Cases, SessionFeed, testing::ValuesIn(kFeedCases), CaseName{});

// A full list: detections still come back, new streams are counted, listed rows stay.
TEST(MonitorSession, AFullListCountsTheStreamsItDrops) {
    Reports reports;
    MonitorSession session(reports.callbacks());
    session.setSuffixTable(SuffixTable::withKnownSuffixes());
    session.setRowLimit(2);
    std::vector<MonitorSession::Detection> detections;
    session.feed(std::vector{request("/a.wmv"), request("/b.wmv"), request("/c.wmv"),
                             request("/a.wmv"), request("/d.wmv")},
                 detections);
    ASSERT_EQ(detections.size(), 5u);
    const int rows[] = {0, 1, -1, 0, -1};
    for (std::size_t i = 0; i < detections.size(); ++i) {
        EXPECT_EQ(detections[i].row, rows[i]) << i;
    }
    EXPECT_EQ(session.rowCount(), 2);
    EXPECT_EQ(session.droppedStreams(), 2u);
    EXPECT_EQ(session.url(1), "http://S/b.wmv");
    session.reset();
    EXPECT_EQ(session.droppedStreams(), 0u);
}

TEST(MonitorSession, RowsTakeTheSuffixTableTheyWereDetectedWith) {
    MonitorSession session{SessionCallbacks{}};
    std::vector<MonitorSession::Detection> detections;
    // The same suffix in the same row of each table, with another type name.
    for (const char* typeName : {"First", "Second", "Third"}) {
        auto table = std::make_shared<SuffixTable>();
        table->add(".asf", typeName);
        session.setSuffixTable(std::move(table));
        const std::vector<CapturedPacket> packets = {request("/a.asf"),
                                                     request("/" + std::string(typeName) + ".asf")};
        session.feed(packets, detections);
    }
    std::vector<std::string> typeNames;
    for (int row = 0; row < session.rowCount(); ++row) {
        DetectedStream record;
        ASSERT_TRUE(session.copyRecord(row, record));
        typeNames.emplace_back(record.typeName);
    }
    EXPECT_EQ(typeNames, (std::vector<std::string>{"First", "First", "Second", "Third"}));
}

TEST(MonitorSession, ChangesNameNewRowsAndEachRefreshedRowOnce) {
    Reports reports;
    MonitorSession session(reports.callbacks());
    session.setSuffixTable(SuffixTable::withKnownSuffixes());
    std::vector<MonitorSession::Detection> detections;
    session.feed(std::vector{request("/a.wmv"), request("/b.wmv")}, detections);
    EXPECT_EQ(session.takeChanges().rowCount, 2);

    TransferProgress half;
    half.stage = TransferProgress::Stage::kPercent;
    half.percent = 50;
    session.showTransfer(*session.record(1), half);
    session.showTransfer(*session.record(1), half);
    const MonitorSession::Changes changes = session.takeChanges();
    EXPECT_EQ(changes.refreshed, std::vector<int>{1});
    StreamRowView texts;
    ASSERT_TRUE(session.rowView(1, texts));
    EXPECT_EQ(texts.transfer.percent, 50);
    EXPECT_EQ(reports.wakes(), 2);

    session.reset();
    EXPECT_EQ(session.rowCount(), 0);
    EXPECT_TRUE(session.takeChanges().refreshed.empty());
    EXPECT_EQ(session.url(0), "");
}

// A capture that only records what the session asks of it.
class FakeCapture : public CaptureEngine {
  public:
    explicit FakeCapture(int& stops, WatchedPorts& filtered) : stops_(stops), filtered_(filtered) {}
    void SetWatchedPorts(const WatchedPorts& ports) override { filtered_ = ports; }
    void Start(const AdapterEntry&) override {}
    void Stop() override { ++stops_; }
    CaptureStatus Status() const override { return {CaptureStatus::kRunning, "eth9", ""}; }

  private:
    int& stops_;
    WatchedPorts& filtered_;
};

class FakeFactory : public CaptureFactory {
  public:
    std::unique_ptr<CaptureEngine> Create(PacketReceiver& owner) override {
        receiver = &owner;
        return std::make_unique<FakeCapture>(stops, filtered);
    }
    PacketReceiver* receiver = nullptr;
    int stops = 0;
    WatchedPorts filtered;  // the ports the last capture's kernel filter was given
};

TEST(MonitorSession, CaptureRunsAreCountedAndPacketsStopAtShutdown) {
    Reports reports;
    auto factory = std::make_unique<FakeFactory>();
    FakeFactory& fake = *factory;
    MonitorSession session(reports.callbacks(), std::move(factory));
    session.setSuffixTable(SuffixTable::withKnownSuffixes());
    AdapterEntry adapter{};
    adapter.physAddress[0] = 0x02;

    ASSERT_TRUE(session.start(adapter));
    EXPECT_FALSE(session.start(adapter)) << "one capture at a time";
    EXPECT_EQ(session.captureRun(), 1);
    fake.receiver->OnCaptureStatus({CaptureStatus::kLost, "eth9", "gone"});
    const CapturedPacket hit = request("/a.wmv");
    fake.receiver->OnCapturedPacket(&hit);
    fake.receiver->OnPacketBatchEnd();
    DetectedStream row;
    ASSERT_TRUE(session.copyRecord(0, row));
    EXPECT_EQ(row.adapterInfo[0], 0x02) << "records carry the capture's adapter";

    session.stop();
    ASSERT_TRUE(session.start(adapter));
    EXPECT_EQ(session.captureRun(), 2);
    session.shutdown();
    EXPECT_EQ(fake.stops, 2);
    EXPECT_FALSE(session.isCapturing());
    EXPECT_FALSE(session.start(adapter));
    const CapturedPacket late = request("/late.wmv");
    fake.receiver->OnCapturedPacket(&late);
    fake.receiver->OnPacketBatchEnd();
    EXPECT_EQ(session.rowCount(), 1);
    EXPECT_EQ(reports.statuses(),
              (std::vector<std::pair<CaptureStatus::State, int>>{{CaptureStatus::kLost, 1}}));
}

// ---- downloads through the session ----

struct DownloadCase {
    const char* name;
    const char* path;  // on the fixture server
    DownloadOutcome::Kind kind;
    long code;
    const char* progress;   // the row's last progress text
    std::int64_t fileSize;  // -1: no file left
};

const DownloadCase kDownloadCases[] = {
    {"Complete", "/file/a.wmv?size=70000", DownloadOutcome::Kind::kCompleted, 0, "完了", 70000},
    {"NotFound", "/status/404", DownloadOutcome::Kind::kFailed, 404, "失敗", -1},
};

class SessionDownloads : public testing::TestWithParam<DownloadCase> {};

TEST_P(SessionDownloads, EndOnceWithTheirOutcomeAndTheRowShowsIt) {
    const DownloadCase& c = GetParam();
    FixtureServer server;
    ASSERT_TRUE(server.running());
    const std::filesystem::path target =
        std::filesystem::temp_directory_path() / ("qvx-session-" + std::string(c.name) + ".wmv");
    std::filesystem::remove(target);

    Reports reports;
    MonitorSession session(reports.callbacks());
    DetectedStream stream{};
    std::strcpy(stream.scheme, "http");
    std::snprintf(stream.host, sizeof stream.host, "http://127.0.0.1:%d", server.port());
    std::snprintf(stream.path, sizeof stream.path, "%s", c.path);
    session.addStream(stream);
    ASSERT_TRUE(session.startDownload(0, target.string()));

    std::pair<int, DownloadOutcome> end;
    ASSERT_TRUE(reports.WaitEnd(end));
    EXPECT_EQ(end.first, 0);
    EXPECT_EQ(end.second.kind, c.kind);
    EXPECT_EQ(end.second.code, c.code);
    EXPECT_EQ(end.second.message.empty(), c.kind != DownloadOutcome::Kind::kFailed);
    EXPECT_EQ(reports.messages().size(), c.kind == DownloadOutcome::Kind::kFailed ? 1u : 0u);
    StreamRowView texts;
    ASSERT_TRUE(session.rowView(0, texts));
    EXPECT_EQ(TransferText::progress(texts.transfer), c.progress);
    session.reapEndedDownloads();
    EXPECT_EQ(session.downloadCount(), 0);
    std::error_code error;
    EXPECT_EQ(static_cast<std::int64_t>(std::filesystem::file_size(target, error)),
              c.fileSize < 0 ? static_cast<std::int64_t>(-1) : c.fileSize);
    std::filesystem::remove(target, error);
}

INSTANTIATE_TEST_SUITE_P(Cases, SessionDownloads, testing::ValuesIn(kDownloadCases), CaseName{});

TEST(MonitorSession, ADownloadOutlivesItsRowAndAbortNeedsARunningOne) {
    FixtureServer server;
    ASSERT_TRUE(server.running());
    const std::filesystem::path target =
        std::filesystem::temp_directory_path() / "qvx-session-orphan.wmv";
    Reports reports;
    MonitorSession session(reports.callbacks());
    DetectedStream stream{};
    std::strcpy(stream.scheme, "http");
    std::snprintf(stream.host, sizeof stream.host, "http://127.0.0.1:%d", server.port());
    std::strcpy(stream.path, "/slow/o.wmv?size=400000&rate=100000");
    session.addStream(stream);
    EXPECT_FALSE(session.cancelDownload(0));
    ASSERT_TRUE(session.startDownload(0, target.string()));
    EXPECT_FALSE(session.startDownload(0, target.string())) << "one download per row";
    session.reset();
    EXPECT_FALSE(session.cancelDownload(0)) << "its row is gone";
    EXPECT_EQ(session.downloadCount(), 1);
    session.shutdown();  // cancels and joins
    std::pair<int, DownloadOutcome> end;
    ASSERT_TRUE(reports.WaitEnd(end));
    EXPECT_EQ(end.first, -1);
    EXPECT_EQ(session.downloadCount(), 0);
    std::error_code error;
    std::filesystem::remove(target, error);
}

}  // namespace

TEST(MonitorSession, AddedPortsReachTheDecoderAndTheFilterAtTheNextStart) {
    auto factory = std::make_unique<FakeFactory>();
    FakeFactory& fake = *factory;
    MonitorSession session(SessionCallbacks{}, std::move(factory));
    session.setSuffixTable(SuffixTable::withKnownSuffixes());
    test_packets::Tcp tcp;
    tcp.dstPort = 8000;
    const CapturedPacket radio = test_packets::packet(
        test_packets::datagram("GET /r.mp3 HTTP/1.0\r\nHost: radio:8000\r\n\r\n", tcp));
    std::vector<MonitorSession::Detection> detections;
    session.feed(std::span(&radio, 1), detections);
    EXPECT_TRUE(detections.empty()) << "8000 is not watched by default";

    WatchedPorts ports;
    ports.add(8000);
    session.setWatchedPorts(ports);
    session.feed(std::span(&radio, 1), detections);
    ASSERT_EQ(detections.size(), 1u);
    EXPECT_EQ(session.url(0), "http://radio:8000/r.mp3");

    ASSERT_TRUE(session.start(AdapterEntry{}));
    EXPECT_TRUE(fake.filtered == ports);
    // Changed while capturing: the running capture keeps its list, the next start takes it.
    session.setWatchedPorts(WatchedPorts{});
    tcp.dstPort = 8000;
    const CapturedPacket other = test_packets::packet(
        test_packets::datagram("GET /s.mp3 HTTP/1.0\r\nHost: radio:8000\r\n\r\n", tcp));
    fake.receiver->OnCapturedPacket(&other);
    fake.receiver->OnPacketBatchEnd();
    EXPECT_EQ(session.rowCount(), 2);
    session.stop();
    ASSERT_TRUE(session.start(AdapterEntry{}));
    EXPECT_TRUE(fake.filtered == WatchedPorts{});
    const CapturedPacket third = test_packets::packet(
        test_packets::datagram("GET /t.mp3 HTTP/1.0\r\nHost: radio:8000\r\n\r\n", tcp));
    fake.receiver->OnCapturedPacket(&third);
    fake.receiver->OnPacketBatchEnd();
    EXPECT_EQ(session.rowCount(), 2);
    session.stop();
}

// A row keeps the request's Referer and User-Agent; its cookie only while cookie reuse is on.
TEST(MonitorSession, CookiesAreKeptOnlyWithCookieReuse) {
    MonitorSession session(SessionCallbacks{});
    session.setSuffixTable(SuffixTable::withKnownSuffixes());
    auto withCookie = [](const char* path) {
        return test_packets::packet(test_packets::datagram(
            std::string("GET ") + path +
                " HTTP/1.1\r\nHost: S\r\nReferer: http://p/\r\nUser-Agent: UA/1\r\n"
                "Cookie: sid=9\r\n\r\n",
            test_packets::Tcp{}));
    };
    std::vector<MonitorSession::Detection> detections;
    EXPECT_FALSE(session.cookieReuse());
    session.feed(std::vector{withCookie("/a.wmv")}, detections);
    session.setCookieReuse(true);
    session.feed(std::vector{withCookie("/b.wmv")}, detections);
    DetectedStream out;
    ASSERT_TRUE(session.copyRecord(0, out));
    EXPECT_STREQ(out.referer, "http://p/");
    EXPECT_STREQ(out.userAgent, "UA/1");
    EXPECT_STREQ(out.cookie, "");
    ASSERT_TRUE(session.copyRecord(1, out));
    EXPECT_STREQ(out.cookie, "sid=9");
    EXPECT_TRUE(session.sendRequestContext());
}

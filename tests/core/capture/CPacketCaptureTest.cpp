#include "core/capture/CPacketCapture.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <net/if.h>
#include <netinet/in.h>
#include <netpacket/packet.h>
#include <pcap/pcap.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <mutex>
#include <set>
#include <vector>

#include "core/capture/CSnmpAdapterList.h"
#include "core/capture/CaptureFilter.h"
#include "core/capture/DatagramExtractor.h"
#include "core/capture/SystemInterfaceTable.h"
#include "core/detect/StreamDecoder.h"
#include "core/session/SecureTrafficReader.h"
#include "support/NetnsPair.h"
#include "support/TestPackets.h"

using namespace std::chrono_literals;

namespace {

class RecordingReceiver : public PacketReceiver {
  public:
    void OnCapturedPacket(const CapturedPacket* packet) override {
        bool tailZero = true;
        for (std::uint32_t i = packet->length; i < CapturedPacket::kCapacity; ++i) {
            tailZero = tailZero && packet->data[i] == 0;
        }
        std::lock_guard lock(mutex_);
        packets_.emplace_back(packet->data, packet->data + packet->length);
        tailsZero_ = tailsZero_ && tailZero;
        changed_.notify_all();
    }

    void OnLargeDatagram(const std::uint8_t* datagram, std::uint32_t length) override {
        std::lock_guard lock(mutex_);
        packets_.emplace_back(datagram, datagram + length);
        changed_.notify_all();
    }

    void OnPacketBatchEnd() override {
        std::lock_guard lock(mutex_);
        ++batchEnds_;
        changed_.notify_all();
    }

    void OnCaptureStatus(const CaptureStatus& status) override {
        std::lock_guard lock(mutex_);
        statuses_.push_back(status);
        changed_.notify_all();
    }

    bool WaitFor(const std::function<bool(const RecordingReceiver&)>& done,
                 std::chrono::milliseconds limit = 3000ms) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, limit, [&] { return done(*this); });
    }

    std::vector<std::vector<std::uint8_t>> Packets() {
        std::lock_guard lock(mutex_);
        return packets_;
    }

    // Callers of WaitFor's predicate hold the lock already.
    std::vector<std::vector<std::uint8_t>> packets_;
    std::vector<CaptureStatus> statuses_;
    bool tailsZero_ = true;
    int batchEnds_ = 0;

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
};

bool hasStatus(const RecordingReceiver& r, CaptureStatus::State state) {
    for (const auto& s : r.statuses_) {
        if (s.state == state) {
            return true;
        }
    }
    return false;
}

std::uint16_t identOf(const std::vector<std::uint8_t>& datagram) {
    return datagram.size() >= 6 ? static_cast<std::uint16_t>(datagram[4] << 8 | datagram[5]) : 0;
}

struct FrameSpec {
    std::uint16_t ident;  // marks the frame
    std::uint16_t srcPort;
    std::uint16_t dstPort;
    std::uint8_t protocol = 6;
    std::vector<std::uint16_t> vlanTypes = {};  // outermost first
    std::size_t datagramLength = 60;
};

void put16(std::vector<std::uint8_t>& out, std::size_t at, std::uint16_t value) {
    out[at] = static_cast<std::uint8_t>(value >> 8);
    out[at + 1] = static_cast<std::uint8_t>(value);
}

// An Ethernet frame to a MAC nobody owns (only a promiscuous capture sees it).
std::vector<std::uint8_t> buildFrame(const FrameSpec& spec) {
    std::vector<std::uint8_t> frame = {0x02, 0, 0, 0, 0, 0x99, 0x02, 0, 0, 0, 0, 0x98};
    for (std::uint16_t type : spec.vlanTypes) {
        frame.push_back(static_cast<std::uint8_t>(type >> 8));
        frame.push_back(static_cast<std::uint8_t>(type));
        frame.push_back(0x00);
        frame.push_back(0x07);  // VLAN id 7
    }
    frame.push_back(0x08);
    frame.push_back(0x00);
    std::size_t ip = frame.size();
    frame.resize(ip + std::max<std::size_t>(spec.datagramLength, 40));
    for (std::size_t i = 40; i < spec.datagramLength; ++i) {
        frame[ip + i] = static_cast<std::uint8_t>('a' + i % 26);
    }
    frame[ip] = 0x45;
    put16(frame, ip + 2, static_cast<std::uint16_t>(spec.datagramLength));
    put16(frame, ip + 4, spec.ident);
    frame[ip + 8] = 64;
    frame[ip + 9] = spec.protocol;
    inet_pton(AF_INET, NetnsPair::kClientAddress, &frame[ip + 12]);
    inet_pton(AF_INET, NetnsPair::kServerAddress, &frame[ip + 16]);
    put16(frame, ip + 20, spec.srcPort);
    put16(frame, ip + 22, spec.dstPort);
    frame[ip + 32] = 0x50;
    frame[ip + 33] = 0x18;
    frame.resize(ip + spec.datagramLength);
    return frame;
}

// Sends hand-made frames out of the client's veth end.
class FrameSender {
  public:
    FrameSender(const NetnsPair& pair) {
        pair.RunIn(pair.clientNs(), [&] {
            fd_ = ::socket(AF_PACKET, SOCK_RAW, 0);
            ifIndex_ = static_cast<int>(::if_nametoindex(pair.clientIf().c_str()));
        });
    }
    ~FrameSender() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }

    bool Send(const std::vector<std::uint8_t>& frame) {
        sockaddr_ll to{};
        to.sll_family = AF_PACKET;
        to.sll_ifindex = ifIndex_;
        to.sll_halen = 6;
        std::memcpy(to.sll_addr, frame.data(), 6);
        return ::sendto(fd_, frame.data(), frame.size(), 0, reinterpret_cast<sockaddr*>(&to),
                        sizeof to) == static_cast<ssize_t>(frame.size());
    }

  private:
    int fd_ = -1;
    int ifIndex_ = 0;
};

// The adapter entry of the server's veth end, as the adapter list gives it there.
AdapterEntry serverAdapter(const NetnsPair& pair) {
    AdapterEntry chosen{};
    pair.RunIn(pair.serverNs(), [&] {
        SystemInterfaceTable system;
        std::vector<AdapterEntry> entries;
        CSnmpAdapterList::ListAdapters(system, entries);
        if (entries.size() == 1) {
            chosen = entries[0];
        }
    });
    return chosen;
}

// Starts `capture` from inside the server namespace, so its thread captures there.
void startInServer(const NetnsPair& pair, CPacketCapture& capture, const AdapterEntry& adapter) {
    pair.RunIn(pair.serverNs(), [&] { ASSERT_TRUE(capture.Start(1, adapter)); });
}

}  // namespace

TEST(CPacketCapture, HandsOverExactlyTheDetectorsPortsUntaggedAndTagged) {
    NetnsPair pair;
    QVX_REQUIRE_NETNS(pair);
    AdapterEntry adapter = serverAdapter(pair);
    ASSERT_EQ(std::string(adapter.description), pair.serverIf())
        << "the veth end is the only adapter there";

    RecordingReceiver receiver;
    CPacketCapture capture(receiver);
    startInServer(pair, capture, adapter);
    ASSERT_TRUE(receiver.WaitFor([](auto& r) { return hasStatus(r, CaptureStatus::kRunning); }))
        << capture.Status().message;

    const FrameSpec frames[] = {
        {1, 40000, 80},
        {2, 1755, 40001},
        {3, 40002, 554},
        {4, 80, 40003},
        {5, 40004, 8080},                       // other port
        {6, 40005, 80, 17},                     // UDP
        {7, 40006, 443},                        // TLS: followed both ways
        {8, 40007, 80, 6, {0x8100}},            // 802.1Q
        {9, 40008, 8080, 6, {0x8100}},          // tagged, other port
        {10, 40009, 554, 6, {0x88A8, 0x8100}},  // 802.1ad + 802.1Q
        {11, 40010, 25, 6, {0x88A8, 0x8100}},   // double-tagged, other port
        {12, 40011, 80, 6, {}, 22},             // too short to hold the second port
        {13, 40012, 1755},
    };
    FrameSender sender(pair);
    for (const FrameSpec& spec : frames) {
        ASSERT_TRUE(sender.Send(buildFrame(spec))) << spec.ident;
    }
    ASSERT_TRUE(receiver.WaitFor([](auto& r) {
        for (const auto& p : r.packets_) {
            if (identOf(p) == 13) {
                return true;
            }
        }
        return false;
    })) << "the last frame never arrived";
    // Frames arrive in the order sent: nothing that passed can still be on its way.
    capture.Stop();

    std::set<std::uint16_t> seen;
    for (const auto& datagram : receiver.Packets()) {
        ASSERT_GE(datagram.size(), 24u);
        EXPECT_EQ(datagram[0], 0x45) << "handed over from the IP header on";
        seen.insert(identOf(datagram));
    }
    EXPECT_EQ(seen, (std::set<std::uint16_t>{1, 2, 3, 4, 7, 8, 10, 13}));
    EXPECT_TRUE(receiver.tailsZero_);
    EXPECT_GE(capture.LastStatistics().handedOver, 7u);
}

// A plain segment is cut where the detector stops reading; a TLS port's comes whole, as a
// browser's hello does before the sender's offload splits it.
void expectLongDatagramsCut(const NetnsPair& pair, RecordingReceiver& receiver) {
    struct Case {
        FrameSpec frame;
        std::size_t handedOver;
    };
    const Case cases[] = {
        {{21, 40000, 80, 6, {}, 3000}, 2048},
        {{22, 40000, 80, 6, {}, 100}, 100},
        {{23, 40000, 443, 6, {}, 3000}, 3000},
        {{24, 443, 40000, 17, {}, 3900}, 3900},
    };
    FrameSender sender(pair);
    std::vector<std::vector<std::uint8_t>> frames;
    for (const Case& c : cases) {
        frames.push_back(buildFrame(c.frame));
        ASSERT_TRUE(sender.Send(frames.back())) << c.frame.ident;
    }
    ASSERT_TRUE(receiver.WaitFor([&](auto& r) { return r.packets_.size() >= std::size(cases); }));

    auto packets = receiver.Packets();
    ASSERT_EQ(packets.size(), std::size(cases));
    for (std::size_t i = 0; i < packets.size(); ++i) {
        ASSERT_EQ(packets[i].size(), cases[i].handedOver) << i;
        EXPECT_TRUE(std::equal(packets[i].begin(), packets[i].end(), frames[i].begin() + 14)) << i;
    }
    EXPECT_TRUE(receiver.tailsZero_) << "a short datagram after a long one leaves zeros";
}

TEST(CPacketCapture, LongDatagramsAreCutUnlessOnATlsPort) {
    NetnsPair pair;
    QVX_REQUIRE_NETNS(pair);
    // With every port a user may add, the kernel's program would be too long: the kernel then
    // passes more, and the same cuts are made on our side.
    WatchedPorts manyPorts;
    TlsPorts manyTlsPorts;
    for (std::uint16_t port = 8000; manyPorts.add(port); ++port) {
        manyTlsPorts.add(static_cast<std::uint16_t>(port + 1000));
    }
    for (const auto& [ports, tlsPorts] :
         {std::pair{WatchedPorts{}, TlsPorts{}}, std::pair{manyPorts, manyTlsPorts}}) {
        RecordingReceiver receiver;
        CPacketCapture capture(receiver);
        capture.SetPorts(ports, tlsPorts);
        pair.RunIn(pair.serverNs(),
                   [&] { ASSERT_TRUE(capture.Start(1, serverAdapter(pair), ports)); });
        ASSERT_TRUE(receiver.WaitFor([](auto& r) { return hasStatus(r, CaptureStatus::kRunning); }))
            << capture.Status().message;
        expectLongDatagramsCut(pair, receiver);
        capture.Stop();
    }
}

// Counts asked for while the capture runs are taken between two batches, and the capture goes
// on: a frame sent after the request arrives, and the counts are those from before it.
TEST(CPacketCapture, CountsAreTakenWhileTheCaptureRuns) {
    NetnsPair pair;
    QVX_REQUIRE_NETNS(pair);
    RecordingReceiver receiver;
    CPacketCapture capture(receiver);
    startInServer(pair, capture, serverAdapter(pair));
    ASSERT_TRUE(receiver.WaitFor([](auto& r) { return hasStatus(r, CaptureStatus::kRunning); }));
    FrameSender sender(pair);
    for (std::uint16_t ident : {std::uint16_t{31}, std::uint16_t{32}, std::uint16_t{33}}) {
        ASSERT_TRUE(sender.Send(buildFrame({ident, 40000, 80})));
    }
    // A batch has ended: the capture knows that packets came since the counts were taken.
    ASSERT_TRUE(
        receiver.WaitFor([](auto& r) { return r.packets_.size() >= 3 && r.batchEnds_ > 0; }));
    EXPECT_EQ(capture.LastStatistics().handedOver, 0u) << "taken only when asked";
    capture.RequestStatistics();
    ASSERT_TRUE(sender.Send(buildFrame({34, 40000, 80})));
    ASSERT_TRUE(receiver.WaitFor([](auto& r) { return r.packets_.size() >= 4; }));
    const CPacketCapture::Statistics counts = capture.LastStatistics();
    EXPECT_EQ(counts.handedOver, 3u);
    EXPECT_GE(counts.received, 3u);
    EXPECT_EQ(capture.Status().state, CaptureStatus::kRunning);
    capture.Stop();
    EXPECT_EQ(capture.LastStatistics().handedOver, 4u);
}

TEST(CPacketCapture, StopOnASilentLinkEndsTheThreadAndResetsTheObject) {
    NetnsPair pair;
    QVX_REQUIRE_NETNS(pair);
    AdapterEntry adapter = serverAdapter(pair);
    RecordingReceiver receiver;
    CPacketCapture capture(receiver);
    for (int round = 0; round < 2; ++round) {  // the object is reusable after Stop
        startInServer(pair, capture, adapter);
        ASSERT_TRUE(receiver.WaitFor([&](auto& r) {
            return std::count_if(r.statuses_.begin(), r.statuses_.end(), [](auto& s) {
                       return s.state == CaptureStatus::kRunning;
                   }) > round;
        }));
        EXPECT_EQ(capture.Status().state, CaptureStatus::kRunning);
        EXPECT_EQ(capture.Status().interfaceName, pair.serverIf());
        EXPECT_EQ(capture.SelectedAdapter().address[0], 10);
        capture.Stop();  // how soon it returns is measured by the capture-stop bench
        EXPECT_FALSE(capture.HasThread());
        EXPECT_EQ(capture.Status().state, CaptureStatus::kIdle);
        EXPECT_EQ(capture.SelectedAdapter().address[0], 0);
    }
    capture.Stop();  // stopping a stopped capture does nothing
}

TEST(CPacketCapture, AnInterfaceThatIsDownOrGoneIsReportedNotSilent) {
    NetnsPair pair;
    QVX_REQUIRE_NETNS(pair);
    AdapterEntry adapter = serverAdapter(pair);

    // Down before the start: the capture fails at once and says why.
    ASSERT_TRUE(
        NetnsPair::Shell("ip -n " + pair.serverNs() + " link set " + pair.serverIf() + " down"));
    {
        RecordingReceiver receiver;
        CPacketCapture capture(receiver);
        startInServer(pair, capture, adapter);
        ASSERT_TRUE(receiver.WaitFor([](auto& r) { return hasStatus(r, CaptureStatus::kFailed); }));
        EXPECT_EQ(capture.Status().cause, CaptureStatus::Cause::kAdapterDown)
            << capture.Status().message;
        capture.Stop();  // the thread ended by itself
        EXPECT_EQ(capture.Status().state, CaptureStatus::kIdle);
    }
    ASSERT_TRUE(
        NetnsPair::Shell("ip -n " + pair.serverNs() + " link set " + pair.serverIf() + " up"));

    // Gone while capturing: the thread ends and reports it.
    RecordingReceiver receiver;
    CPacketCapture capture(receiver);
    startInServer(pair, capture, adapter);
    ASSERT_TRUE(receiver.WaitFor([](auto& r) { return hasStatus(r, CaptureStatus::kRunning); }));
    ASSERT_TRUE(NetnsPair::Shell("ip -n " + pair.serverNs() + " link del " + pair.serverIf()));
    EXPECT_TRUE(receiver.WaitFor([](auto& r) { return hasStatus(r, CaptureStatus::kLost); }))
        << "a vanished interface must not look like a quiet one";
    EXPECT_EQ(capture.Status().state, CaptureStatus::kLost);
    capture.Stop();
}

TEST(CPacketCapture, AnAddressNoInterfaceHoldsFailsToOpen) {
    RecordingReceiver receiver;
    CPacketCapture capture(receiver);
    AdapterEntry nowhere{};
    inet_pton(AF_INET, "127.255.255.254", nowhere.address);
    ASSERT_TRUE(capture.Start(1, nowhere));
    EXPECT_FALSE(capture.Start(1, nowhere)) << "one capture thread at a time";
    ASSERT_TRUE(receiver.WaitFor([](auto& r) { return hasStatus(r, CaptureStatus::kFailed); }));
    EXPECT_NE(capture.Status().message.find("127.255.255.254"), std::string::npos);
    EXPECT_EQ(capture.Status().cause, CaptureStatus::Cause::kNoAdapterWithAddress);
    capture.Stop();
    EXPECT_FALSE(capture.HasThread());
}

WatchedPorts fullPortList() {
    WatchedPorts ports;
    for (std::uint16_t port = 8000;
         ports.add(port) && ports.added().size() < WatchedPorts::kMaxAdded; ++port) {
    }
    return ports;
}

TEST(CPacketCapture, FilterCompilesForEveryLinkTypeItCaptures) {
    TlsPorts fullTls;
    for (std::uint16_t port = 9000; fullTls.add(port); ++port) {
    }
    for (const auto& [ports, tlsPorts] :
         {std::pair{WatchedPorts{}, TlsPorts{}}, std::pair{fullPortList(), fullTls}}) {
        for (int linkType :
             {DatagramExtractor::kEthernet, DatagramExtractor::kLinuxSll,
              DatagramExtractor::kLinuxSll2, DatagramExtractor::kRaw, DatagramExtractor::kNull,
              DatagramExtractor::kIpv4, DatagramExtractor::kIpv6}) {
            pcap_t* dead = pcap_open_dead(linkType, CaptureFilter::kWholeSnapLength);
            ASSERT_NE(dead, nullptr) << linkType;
            CaptureFilter::Programs programs;
            std::string failure;
            EXPECT_TRUE(CaptureFilter::compile(dead, ports, tlsPorts, programs, failure))
                << linkType << ": " << failure;
            EXPECT_LE(programs.kernel.size(), CaptureFilter::kMaxInstructions) << linkType;
            pcap_close(dead);
        }
    }
}

// The kernel filter passes exactly what the detector would look at, and every segment of a TLS
// port, whatever the headers.
TEST(CPacketCapture, FilterPassesWhatTheDetectorLooksAt) {
    using test_packets::Tcp;
    WatchedPorts ports;
    ports.add(8080);
    const std::string request = "GET /a.asf HTTP/1.1\r\nHost: S\r\n";
    const std::string_view timestamps("\x01\x01\x08\x0a\x00\x00\x00\x01\x00\x00\x00\x00", 12);
    std::vector<std::vector<std::uint8_t>> datagrams;
    constexpr std::uint16_t kPorts[] = {80, 1755, 554, 8080, 8081, 443};
    for (std::uint16_t port : kPorts) {
        for (bool toServer : {true, false}) {
            Tcp tcp;
            tcp.srcPort = toServer ? 40000 : port;
            tcp.dstPort = toServer ? port : 40000;
            datagrams.push_back(test_packets::datagram(request, tcp));
            datagrams.push_back(test_packets::datagram("", tcp));  // a bare acknowledgement
            tcp.options = timestamps;
            datagrams.push_back(test_packets::datagram(request, tcp));
            datagrams.push_back(test_packets::datagram("", tcp));
            tcp.ipOptions = std::string_view("\x94\x04\x00\x00", 4);
            datagrams.push_back(test_packets::datagram(request, tcp));
            datagrams.push_back(test_packets::datagram6(request, tcp));
            datagrams.push_back(test_packets::datagram6("", tcp));
            for (std::uint8_t extension :
                 {std::uint8_t{0}, std::uint8_t{43}, std::uint8_t{60}, std::uint8_t{51}}) {
                test_packets::Ipv6 ip;
                ip.extensions = {{extension, 16}};
                datagrams.push_back(test_packets::datagram6(request, tcp, ip));
            }
            constexpr std::uint16_t kFragments[] = {0x0001, 0x0000, 0x0041};
            for (std::uint16_t fragment : kFragments) {
                test_packets::Ipv6 ip;
                ip.extensions = {{44, 8, fragment}};
                datagrams.push_back(test_packets::datagram6(request, tcp, ip));
            }
            tcp.protocol = 17;
            datagrams.push_back(test_packets::datagram(request, tcp));
            datagrams.push_back(test_packets::datagram6(request, tcp));
        }
    }
    auto ihlFour = test_packets::datagram(request);
    ihlFour[0] = 0x44;
    datagrams.push_back(ihlFour);
    auto offsetFour = test_packets::datagram(request);
    offsetFour[32] = 0x40;
    datagrams.push_back(offsetFour);

    for (int tags : {0, 1, 2}) {
        std::vector<std::uint16_t> vlan(static_cast<std::size_t>(tags), 0x8100);
        pcap_t* dead =
            pcap_open_dead(DatagramExtractor::kEthernet, CaptureFilter::kWholeSnapLength);
        std::vector<bpf_insn> instructions;
        std::string failure;
        ASSERT_TRUE(CaptureFilter::compileJoined(dead, ports, TlsPorts{}, instructions, failure));
        bpf_program program{static_cast<unsigned>(instructions.size()), instructions.data()};
        for (std::size_t i = 0; i < datagrams.size(); ++i) {
            const auto& d = datagrams[i];
            bool v6 = (d[0] >> 4) == 6;
            auto frame =
                test_packets::prepend(test_packets::ethernetHeader(vlan, v6 ? 0x86DD : 0x0800), d);
            pcap_pkthdr header{};
            header.caplen = header.len = static_cast<bpf_u_int32>(frame.size());
            const int passed = pcap_offline_filter(&program, &header, frame.data());
            const auto length = static_cast<std::uint32_t>(d.size());
            const int wanted =
                SecureTrafficReader::isFollowed(d.data(), length, TlsPorts{}, nullptr)
                    ? CaptureFilter::kWholeSnapLength
                : StreamDecoder::worthDecoding(d.data(), length, ports)
                    ? CaptureFilter::kPlainSnapLength
                    : 0;
            EXPECT_EQ(passed, wanted) << "datagram " << i << ", " << tags << " tags";
        }
        pcap_close(dead);
    }
}

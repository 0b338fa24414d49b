#include "core/detect/StreamDecoder.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include "core/detect/SuffixListFile.h"
#include "core/store/StreamList.h"
#include "support/TestPackets.h"

namespace {

using test_packets::Tcp;

struct Outcome {
    int result;
    DetectedStream record;
};

Outcome decode(const std::vector<std::uint8_t>& datagram, const SuffixTable& table) {
    // On the heap with its exact size, so reading past the buffer trips the sanitizer.
    auto packet = std::make_unique<CapturedPacket>(test_packets::packet(datagram));
    Outcome outcome{};
    outcome.result = StreamDecoder::decode(*packet, table, nullptr, outcome.record);
    return outcome;
}

Outcome decode(std::string_view payload, Tcp tcp = {}) {
    return decode(test_packets::datagram(payload, tcp), *SuffixTable::withKnownSuffixes());
}

struct Case {
    const char* name;
    std::string payload;
    std::uint16_t dstPort;
    const char* scheme;  // null: rejected
    std::string host;
    std::string path;
    const char* suffix = ".asf";
};

class DecoderCases : public ::testing::TestWithParam<Case> {};

TEST_P(DecoderCases, YieldsTheUrlParts) {
    const Case& c = GetParam();
    Tcp tcp;
    tcp.dstPort = c.dstPort;
    Outcome out = decode(c.payload, tcp);
    if (c.scheme == nullptr) {
        EXPECT_EQ(out.result, -1);
        return;
    }
    ASSERT_EQ(out.result, 0);
    EXPECT_STREQ(out.record.scheme, c.scheme);
    EXPECT_EQ(std::string(out.record.host), c.host);
    EXPECT_EQ(std::string(out.record.path), c.path);
    EXPECT_STREQ(out.record.suffix, c.suffix);
}

const std::string kLongHost(56, 'h');  // "http://" + 56 = 63 bytes: just fits

INSTANTIATE_TEST_SUITE_P(
    WorkedExamplesAndEdges, DecoderCases,
    ::testing::Values(
        Case{"RequestWithHostHeader", "GET /v/a.asf HTTP/1.1\r\nHost: S\r\n\r\n", 80, "http",
             "http://S", "/v/a.asf"},
        Case{"SameRequestToMmsPort", "GET /v/a.asf HTTP/1.1\r\nHost: S\r\n\r\n", 1755, "http",
             "msst://S", "/v/a.asf"},
        Case{"QuotedMmsAttribute", "<a href=\"mms://S/live/b.asf\">", 80, "mms", "mms://S",
             "/live/b.asf"},
        Case{"MmstKeepsItsPrefix", "x mmst://S/c.wmv y", 1755, "mms", "mmst://S", "/c.wmv", ".wmv"},
        Case{"MmsuScheme", "x mmsu://S/c.wma", 1755, "mmsu", "mmsu://S", "/c.wma", ".wma"},
        Case{"RtspDescribe", "DESCRIBE rtsp://S/d.rm RTSP/1.0\r\n", 554, "rtsp", "rtsp://S",
             "/d.rm", ".rm"},
        Case{"NoHostHeader", "GET /e.mp3 HTTP/1.0\r\n\r\n", 80, nullptr, "", ""},
        Case{"NoSlashAfterServer", "x http://S.asf", 80, nullptr, "", ""},
        Case{"SuffixAtFirstByteTriesNextRow", ".asf GET /x.wmv HTTP/1.0\r\nHost: S\r\n", 80, "http",
             "http://S", "/x.wmv", ".wmv"},
        Case{"SuffixAtFirstByteSkipsUpperCase", ".asf GET /x.ASF HTTP/1.0\r\nHost: S\r\n", 80,
             nullptr, "", ""},
        Case{"UpperCaseMatches", "GET /A.ASF HTTP/1.0\r\nHost: S\r\n", 80, "http", "http://S",
             "/A.ASF"},
        Case{"MixedCaseDoesNot", "GET /a.Asf HTTP/1.0\r\nHost: S\r\n", 80, nullptr, "", ""},
        Case{"TabKeepsMethod", "GET\t/v/a.asf HTTP/1.1\r\nHost: S\r\n", 80, "http", "http://S",
             "GET\t/v/a.asf"},
        Case{"UpperHostHeaderWins", "GET /a.asf HTTP/1.1\r\nHost: A\r\nHOST: B\r\n", 80, "http",
             "http://B", "/a.asf"},
        Case{"LowerHostHeader", "GET /a.asf HTTP/1.1\r\nhost: C \r\n", 80, "http", "http://C",
             "/a.asf"},
        Case{"HostHeaderAtFirstByte", "Host: S\r\nGET /a.asf HTTP/1.1\r\n", 80, nullptr, "", ""},
        Case{"FirstFormAtFirstByteHasNoFallBack", "HOST: A\r\nGET /a.asf HTTP/1.1\r\nHost: B\r\n",
             80, nullptr, "", ""},
        Case{"HostHeaderWithoutLineFeed", "GET /a.asf HTTP/1.1\r\nHost: S", 80, nullptr, "", ""},
        Case{"EmptyHostHeader", "GET /a.asf HTTP/1.1\r\nHost: \r\n", 80, nullptr, "", ""},
        Case{"FirstRowWinsWherever", "GET /x.mp3?u=/y.asf HTTP/1.1\r\nHost: S\r\n", 80, "http",
             "http://S", "/x.mp3?u=/y.asf"},
        Case{"CutAtFirstOccurrence", "GET /a.asf?b.asf HTTP/1.1\r\nHost: S\r\n", 80, "http",
             "http://S", "/a.asf"},
        Case{"LineFeedBeforeUrl", "<p>\nhttp://S/v.asf", 80, "http", "http://S", "/v.asf"},
        Case{"ZeroEndsText", std::string("GET /a.as\0f HTTP/1.1\r\nHost: S\r\n", 31), 80, nullptr,
             "", ""},
        Case{"SuffixOnTrailByteIgnored", "GET /\x82.asf HTTP/1.1\r\nHost: S\r\n", 80, nullptr, "",
             ""},
        Case{"TwoByteCharacterBeforeSuffix", "GET /\x82\xA0.asf HTTP/1.1\r\nHost: S\r\n", 80,
             "http", "http://S", "/\x82\xA0.asf"},
        Case{"HostHeaderJustFits", "GET /a.asf HTTP/1.1\r\nHost: " + kLongHost + "\r\n", 80, "http",
             "http://" + kLongHost, "/a.asf"},
        Case{"HostHeaderTooLongIsDropped", "GET /a.asf HTTP/1.1\r\nHost: " + kLongHost + "h\r\n",
             80, nullptr, "", ""},
        Case{"HostPartTooLongIsDropped", "x http://" + std::string(57, 'h') + "/a.asf", 80, nullptr,
             "", ""},
        Case{"PathJustFits", "GET /" + std::string(250, 'p') + ".asf HTTP/1.1\r\nHost: S\r\n", 80,
             "http", "http://S", "/" + std::string(250, 'p') + ".asf"},
        Case{"PathTooLongIsDropped",
             "GET /" + std::string(251, 'p') + ".asf HTTP/1.1\r\nHost: S\r\n", 80, nullptr, "",
             ""}),
    [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

TEST(StreamDecoder, KeepsOnlyTcpOnTheThreePortsEitherWay) {
    const std::string request = "GET /a.asf HTTP/1.1\r\nHost: S\r\n";
    struct PortCase {
        std::uint16_t src, dst;
        std::uint8_t protocol;
        int result;
    } cases[] = {
        {40000, 80, 6, 0},  {80, 40000, 6, 0},  {40000, 1755, 6, 0},  {1755, 40000, 6, 0},
        {40000, 554, 6, 0}, {554, 40000, 6, 0}, {40000, 8080, 6, -1}, {40000, 80, 17, -1},
    };
    for (const PortCase& c : cases) {
        Tcp tcp;
        tcp.srcPort = c.src;
        tcp.dstPort = c.dst;
        tcp.protocol = c.protocol;
        EXPECT_EQ(decode(request, tcp).result, c.result) << c.src << "->" << c.dst;
    }
}

TEST(StreamDecoder, RejectsShortDatagramsAndEmptyPayloads) {
    auto full = test_packets::datagram("");
    for (std::size_t length : {0u, 19u, 20u, 23u, 24u, 39u, 40u}) {
        std::vector<std::uint8_t> cut(full.begin(), full.begin() + static_cast<long>(length));
        EXPECT_EQ(decode(cut, *SuffixTable::withKnownSuffixes()).result, -1) << length;
    }
}

TEST(StreamDecoder, TcpOptionsAreReadAsText) {
    const std::string request = "GET /a.asf HTTP/1.1\r\nHost: S\r\n";
    Tcp withZero;
    withZero.options = std::string_view("\x01\x01\x00\x00", 4);
    EXPECT_EQ(decode(request, withZero).result, -1);
    Tcp withoutZero;
    withoutZero.options = "\x01\x01\x01\x01";
    Outcome out = decode(request, withoutZero);
    ASSERT_EQ(out.result, 0);
    EXPECT_STREQ(out.record.path, "/a.asf");
}

TEST(StreamDecoder, FullBufferWithoutZeroEndsAtTheBuffer) {
    std::string payload = "GET /a.asf HTTP/1.1\r\nHost: S\r\n";
    payload.resize(CapturedPacket::kCapacity - 40, 'x');
    Outcome out = decode(payload);
    ASSERT_EQ(out.result, 0);
    EXPECT_STREQ(out.record.host, "http://S");

    // The suffix ends at the last received byte.
    std::string tail =
        "x\r\nHost: T\r\n" + std::string(CapturedPacket::kCapacity - 40 - 12 - 7, 'y');
    tail += " /b.wmv";
    ASSERT_EQ(tail.size(), CapturedPacket::kCapacity - 40);
    out = decode(tail);
    ASSERT_EQ(out.result, 0);
    EXPECT_STREQ(out.record.path, "/b.wmv");
    EXPECT_STREQ(out.record.host, "http://T");
}

TEST(StreamDecoder, FillsHeaderFieldsSuffixRowAndAdapterBytes) {
    Tcp tcp;
    tcp.srcAddr = 0xC0A80102;
    tcp.dstPort = 80;
    auto datagram = test_packets::datagram("GET /a.wmv HTTP/1.1\r\nHost: S\r\n", tcp);
    AdapterEntry adapter{};
    for (std::size_t i = 0; i < sizeof adapter.physAddress; ++i) {
        adapter.physAddress[i] = static_cast<std::uint8_t>(0xA0 + i);
    }
    auto packet = std::make_unique<CapturedPacket>(test_packets::packet(datagram));
    DetectedStream r;
    ASSERT_EQ(StreamDecoder::decode(*packet, *SuffixTable::withKnownSuffixes(), &adapter, r), 0);
    EXPECT_EQ(r.verIhl, 0x45);
    EXPECT_EQ(r.totalLength, datagram.size());
    EXPECT_EQ(r.ident, 0x1234);
    EXPECT_EQ(r.fragment, 0x4000);
    EXPECT_EQ(r.ttl, 64);
    EXPECT_EQ(r.protocol, 6);
    EXPECT_EQ(r.srcAddr, 0xC0A80102u);
    EXPECT_EQ(r.dstAddr, 0x0A000002u);
    EXPECT_EQ(r.srcPort, 40000);
    EXPECT_EQ(r.dstPort, 80);
    EXPECT_EQ(r.seq, 0x01020304u);
    EXPECT_EQ(r.ack, 0x05060708u);
    EXPECT_EQ(r.dataOffset, 0x50);
    EXPECT_EQ(r.tcpFlags, 0x18);
    EXPECT_EQ(r.window, 0xFFFF);
    EXPECT_EQ(r.urgent, 0);
    EXPECT_STREQ(r.suffix, ".wmv");
    EXPECT_STREQ(r.typeName, "Windous Media Video");
    EXPECT_EQ(r.ownerList, nullptr);
    EXPECT_EQ(r.state, 0);
    EXPECT_EQ(r.adapterInfo[0], 0xA0);
    // 64 bytes from the physical address on, running into the entry's next fields.
    EXPECT_EQ(0, std::memcmp(r.adapterInfo, adapter.physAddress, 64));
}

TEST(StreamDecoder, SnapshotsCanBeSwappedWhileDecoding) {
    StreamDecoder decoder;
    auto packet = std::make_unique<CapturedPacket>(
        test_packets::packet(test_packets::datagram("GET /a.flv HTTP/1.1\r\nHost: S\r\n")));
    DetectedStream r;
    EXPECT_EQ(decoder.decode(*packet, r), -1);  // empty table until one is set
    decoder.setSuffixTable(SuffixTable::withKnownSuffixes());
    EXPECT_EQ(decoder.decode(*packet, r), 0);

    std::atomic<bool> stop{false};
    std::thread reloader([&] {
        auto flvOnly = std::make_shared<SuffixTable>();
        flvOnly->add(".flv", "Flash Video");
        while (!stop.load()) {
            decoder.setSuffixTable(SuffixTable::withKnownSuffixes());
            decoder.setSuffixTable(flvOnly);
            decoder.setAdapter(std::make_shared<AdapterEntry>());
        }
    });
    for (int i = 0; i < 20000; ++i) {
        ASSERT_EQ(decoder.decode(*packet, r), 0);
        ASSERT_STREQ(r.typeName, "Flash Video");
    }
    stop = true;
    reloader.join();
}

}  // namespace

#include "core/detect/StreamDecoder.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstddef>
#include <cstring>
#include <memory>
#include <string>
#include <thread>

#include "core/detect/PackedStream.h"
#include "core/detect/SuffixListFile.h"
#include "core/store/StreamList.h"
#include "support/CaseName.h"
#include "support/TestPackets.h"

namespace {

using test_packets::Tcp;

struct Outcome {
    int result;
    DetectedStream record;
};

// Every field a reader looks at: the header and bookkeeping bytes, the texts up to their
// terminators and the byte fields.
void expectSameFields(const DetectedStream& a, const DetectedStream& b) {
    EXPECT_EQ(0, std::memcmp(&a, &b, offsetof(DetectedStream, suffix)));
    EXPECT_STREQ(a.suffix, b.suffix);
    EXPECT_STREQ(a.scheme, b.scheme);
    EXPECT_STREQ(a.host, b.host);
    EXPECT_STREQ(a.typeName, b.typeName);
    EXPECT_STREQ(a.path, b.path);
    EXPECT_STREQ(a.query, b.query);
    EXPECT_STREQ(a.referer, b.referer);
    EXPECT_STREQ(a.userAgent, b.userAgent);
    EXPECT_STREQ(a.cookie, b.cookie);
    EXPECT_STREQ(a.localFile, b.localFile);
    EXPECT_EQ(0, std::memcmp(a.adapterInfo, b.adapterInfo, sizeof a.adapterInfo));
    EXPECT_EQ(0, std::memcmp(a.srcAddr6, b.srcAddr6, sizeof a.srcAddr6));
    EXPECT_EQ(0, std::memcmp(a.dstAddr6, b.dstAddr6, sizeof a.dstAddr6));
}

// A record handed to another thread packed comes out the same, with adapter bytes or without.
void expectSameAfterPacking(DetectedStream record) {
    for (std::uint8_t adapterByte : {std::uint8_t{0}, std::uint8_t{0xC3}}) {
        std::memset(record.adapterInfo, adapterByte, sizeof record.adapterInfo);
        auto room = std::make_unique<std::uint64_t[]>(PackedStream::maxSize() / 8);
        const PackedStream& packed = PackedStream::pack(StreamFields::of(record), room.get());
        auto unpacked = std::make_unique<DetectedStream>();
        std::memset(unpacked.get(), 0x5A, sizeof *unpacked);
        packed.unpack(*unpacked);
        expectSameFields(record, *unpacked);
    }
}

Outcome decode(const std::vector<std::uint8_t>& datagram, const SuffixTable& table) {
    // On the heap with its exact size, so reading past the buffer trips the sanitizer.
    auto packet = std::make_unique<CapturedPacket>(test_packets::packet(datagram));
    Outcome outcome{};
    outcome.result = StreamDecoder::decode(*packet, table, nullptr, outcome.record);
    // The decoder clears only what it reads or sets: a record reused from an earlier
    // packet, garbage and all, must come out the same as a fresh one.
    auto reused = std::make_unique<DetectedStream>();
    std::memset(reused.get(), 0xA5, sizeof *reused);
    EXPECT_EQ(StreamDecoder::decode(*packet, table, nullptr, *reused), outcome.result);
    if (outcome.result == 0) {
        expectSameFields(outcome.record, *reused);
        expectSameAfterPacking(outcome.record);
    }
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
    std::string query = "";
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
    EXPECT_EQ(std::string(out.record.query), c.query);
}

const std::string kLongHost(56, 'h');  // "http://" + 56 = 63 bytes: just fits

// The request headers a record keeps: the payload after "GET /v.asf HTTP/1.1\r\nHost: S\r\n".
struct ContextCase {
    const char* name;
    std::string headers;
    std::string referer;
    std::string userAgent;
    std::string cookie;
};

class RequestContextCases : public ::testing::TestWithParam<ContextCase> {};

TEST_P(RequestContextCases, KeepsTheRequestHeaders) {
    const ContextCase& c = GetParam();
    Outcome out = decode("GET /v.asf HTTP/1.1\r\nHost: S\r\n" + c.headers);
    ASSERT_EQ(out.result, 0);
    EXPECT_EQ(std::string(out.record.referer), c.referer);
    EXPECT_EQ(std::string(out.record.userAgent), c.userAgent);
    EXPECT_EQ(std::string(out.record.cookie), c.cookie);
}

const std::string kLongReferer = "http://p/" + std::string(1014, 'r');  // 1023 bytes: just fits

INSTANTIATE_TEST_SUITE_P(
    Headers, RequestContextCases,
    ::testing::Values(
        ContextCase{"None", "\r\n", "", "", ""},
        ContextCase{"All",
                    "Referer: http://page/a.html\r\nUser-Agent: Player/2 (X11)\r\n"
                    "Cookie: a=1; b=2\r\n\r\n",
                    "http://page/a.html", "Player/2 (X11)", "a=1; b=2"},
        ContextCase{"NamesInAnyCase", "referer: r\r\nUSER-AGENT: u\r\ncOOkie: c\r\n", "r", "u",
                    "c"},
        ContextCase{"NoSpaceAndTrailingBlanks", "Referer:r \t\r\nUser-Agent:\tu\r\n", "r", "u", ""},
        ContextCase{"LineFeedOnly", "Referer: r\nUser-Agent: u\n", "r", "u", ""},
        ContextCase{"LastLineWithoutLineFeed", "Referer: r", "", "", ""},
        ContextCase{"FirstOfRepeatedHeader", "Referer: one\r\nReferer: two\r\n", "one", "", ""},
        ContextCase{"NameMustStartTheLine", "X-Referer: no\r\nXUser-Agent: no\r\n", "", "", ""},
        ContextCase{"ControlByteRefused", "Referer: a\x1B[2Jb\r\nUser-Agent: u\x7F\r\n", "", "",
                    ""},
        ContextCase{"TabKept", "User-Agent: a\tb\r\n", "", "a\tb", ""},
        // Longer values are checked eight bytes at a time: each byte of a word counts.
        ContextCase{"ControlByteInALongValue", "Referer: http://p/abcdef\x01gh\r\n", "", "", ""},
        ContextCase{"DeleteInALongValue", "User-Agent: Player/2.0 (X11\x7F)\r\n", "", "", ""},
        ContextCase{"TabAndHighBytesKeptInALongValue",
                    "User-Agent: Pl\xC3\xA4yer/2\t(X11; \xFF)\r\n", "",
                    "Pl\xC3\xA4yer/2\t(X11; \xFF)", ""},
        ContextCase{"RefererJustFits", "Referer: " + kLongReferer + "\r\n", kLongReferer, "", ""},
        ContextCase{"RefererTooLongLeftOut", "Referer: " + kLongReferer + "x\r\nUser-Agent: u\r\n",
                    "", "u", ""},
        ContextCase{"UserAgentTooLongLeftOut", "User-Agent: " + std::string(512, 'u') + "\r\n", "",
                    "", ""}),
    CaseName{});

TEST(StreamDecoder, KeepsTheCookieOnlyWithCookieReuse) {
    StreamDecoder decoder;
    decoder.setSuffixTable(SuffixTable::withKnownSuffixes());
    auto packet = std::make_unique<CapturedPacket>(test_packets::packet(test_packets::datagram(
        "GET /v.asf HTTP/1.1\r\nHost: S\r\nReferer: r\r\nCookie: id=7\r\n\r\n", Tcp{})));
    DetectedStream record{};
    EXPECT_FALSE(decoder.keepsCookies());
    ASSERT_EQ(decoder.decode(*packet, record), 0);
    EXPECT_STREQ(record.cookie, "");
    EXPECT_STREQ(record.referer, "r");
    decoder.setKeepCookies(true);
    ASSERT_EQ(decoder.decode(*packet, record), 0);
    EXPECT_STREQ(record.cookie, "id=7");
    decoder.setKeepCookies(false);
    ASSERT_EQ(decoder.decode(*packet, record), 0);
    EXPECT_STREQ(record.cookie, "");
}

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
             "http://S", "/a.asf", ".asf", "?b.asf"},
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
        Case{"SignedUrlKeepsItsQuery", "GET /cdn/clip.wmv?sig=a%2Fb&exp=17 HTTP/1.1\r\nHost: S\r\n",
             80, "http", "http://S", "/cdn/clip.wmv", ".wmv", "?sig=a%2Fb&exp=17"},
        Case{"QueryInLinkUpToQuote", "<a href=\"http://S/v.asf?t=1\">", 80, "http", "http://S",
             "/v.asf", ".asf", "?t=1"},
        Case{"QueryUpToSingleQuote", "x='mms://S/v.asf?t=2'", 1755, "mms", "mms://S", "/v.asf",
             ".asf", "?t=2"},
        Case{"QueryUpToTab", "GET /v.asf?t=3\tx\r\nHost: S\r\n", 80, "http", "http://S", "/v.asf",
             ".asf", "?t=3"},
        Case{"QueryUpToCarriageReturn", "x http://S/v.asf?t=4\r\n", 80, "http", "http://S",
             "/v.asf", ".asf", "?t=4"},
        Case{"QueryUpToLineFeed", "x http://S/v.asf?t=5\ny", 80, "http", "http://S", "/v.asf",
             ".asf", "?t=5"},
        Case{"QueryUpToControlByte", "x http://S/v.asf?t=6\x01y", 80, "http", "http://S", "/v.asf",
             ".asf", "?t=6"},
        Case{"QueryUpToDelete", "x http://S/v.asf?t=7\x7Fy", 80, "http", "http://S", "/v.asf",
             ".asf", "?t=7"},
        Case{"QueryUpToAngleBrackets", "<x>http://S/v.asf?t=8<y>", 80, "http", "http://S", "/v.asf",
             ".asf", "?t=8"},
        Case{"QueryUpToClosingAngle", "x http://S/v.asf?t=9>", 80, "http", "http://S", "/v.asf",
             ".asf", "?t=9"},
        Case{"QueryUpToFragment", "x http://S/v.asf?t=10#start", 80, "http", "http://S", "/v.asf",
             ".asf", "?t=10"},
        Case{"QueryUpToEndOfText", "x http://S/v.asf?t=11", 80, "http", "http://S", "/v.asf",
             ".asf", "?t=11"},
        Case{"QueryUpToZeroByte", std::string("x http://S/v.asf?t=12\0rest", 26), 80, "http",
             "http://S", "/v.asf", ".asf", "?t=12"},
        Case{"QuestionMarkAloneIsTheQuery", "x http://S/v.asf? y", 80, "http", "http://S", "/v.asf",
             ".asf", "?"},
        Case{"QueryOnlyRightAfterSuffix", "GET /v.asfx?t=13 HTTP/1.1\r\nHost: S\r\n", 80, "http",
             "http://S", "/v.asf", ".asf", ""},
        Case{"LongestQueryAPacketHolds",
             "x http://S/v.asf?" + std::string(CapturedPacket::kCapacity - 40 - 17, 'q'), 80,
             "http", "http://S", "/v.asf", ".asf",
             "?" + std::string(CapturedPacket::kCapacity - 40 - 17, 'q')},
        Case{"PathTooLongIsDropped",
             "GET /" + std::string(251, 'p') + ".asf HTTP/1.1\r\nHost: S\r\n", 80, nullptr, "",
             ""}),
    CaseName{});

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

TEST(StreamDecoder, TcpOptionsAreSkippedByTheDataOffset) {
    const std::string request = "GET /a.asf HTTP/1.1\r\nHost: S\r\n";
    Tcp withZero;
    withZero.options = std::string_view("\x01\x01\x00\x00", 4);
    Outcome out = decode(request, withZero);
    ASSERT_EQ(out.result, 0);
    EXPECT_STREQ(out.record.path, "/a.asf");
    Tcp withoutZero;
    withoutZero.options = "\x01\x01\x01\x01";
    out = decode(request, withoutZero);
    ASSERT_EQ(out.result, 0);
    EXPECT_STREQ(out.record.path, "/a.asf");
}

// How the IP and TCP headers are walked: one generated datagram and what becomes of it.
struct HeaderCase {
    const char* name;
    std::vector<std::uint8_t> datagram;
    const char* url;  // host, path and query; null: rejected
    std::uint16_t srcPort = 40000;
};

class HeaderCases : public ::testing::TestWithParam<HeaderCase> {};

TEST_P(HeaderCases, FindTheSegmentBehindEveryHeader) {
    const HeaderCase& c = GetParam();
    Outcome out = decode(c.datagram, *SuffixTable::withKnownSuffixes());
    EXPECT_EQ(StreamDecoder::worthDecoding(
                  c.datagram.data(), static_cast<std::uint32_t>(c.datagram.size()), WatchedPorts{}),
              c.url != nullptr || out.result == 0);
    if (c.url == nullptr) {
        EXPECT_EQ(out.result, -1);
        return;
    }
    ASSERT_EQ(out.result, 0);
    EXPECT_EQ(std::string(out.record.host) + out.record.path + out.record.query, c.url);
    EXPECT_EQ(out.record.srcPort, c.srcPort);
    EXPECT_EQ(out.record.dstPort, 80);
}

const std::string kRequest = "GET /v/a.asf?k=1 HTTP/1.1\r\nHost: S\r\n\r\n";
// Linux sends these on every segment: two no-ops and a timestamp whose echo is still zero.
const std::string_view kTimestamps("\x01\x01\x08\x0a\x00\x12\x34\x56\x00\x00\x00\x00", 12);

Tcp tcpWith(std::string_view options, std::string_view ipOptions = {}) {
    Tcp tcp;
    tcp.options = options;
    tcp.ipOptions = ipOptions;
    return tcp;
}

std::vector<std::uint8_t> changed(std::vector<std::uint8_t> d, std::size_t at, std::uint8_t to) {
    d[at] = to;
    return d;
}

std::vector<std::uint8_t> cut(std::vector<std::uint8_t> d, std::size_t length) {
    d.resize(length);
    return d;
}

std::vector<std::uint8_t> ipv6With(std::vector<test_packets::Extension> extensions,
                                   std::uint8_t protocol = 6, std::uint16_t dstPort = 80) {
    Tcp tcp = tcpWith(kTimestamps);
    tcp.protocol = protocol;
    tcp.dstPort = dstPort;
    test_packets::Ipv6 ip;
    ip.extensions = std::move(extensions);
    return test_packets::datagram6(kRequest, tcp, ip);
}

INSTANTIATE_TEST_SUITE_P(
    OptionsAndIpv6, HeaderCases,
    ::testing::Values(
        HeaderCase{"TimestampsWithZeroBytes",
                   test_packets::datagram(kRequest, tcpWith(kTimestamps)), "http://S/v/a.asf?k=1"},
        HeaderCase{"LongestTcpHeader",
                   test_packets::datagram(kRequest, tcpWith(std::string(40, '\0'))),
                   "http://S/v/a.asf?k=1"},
        HeaderCase{
            "IpOptionsMoveThePorts",
            test_packets::datagram(kRequest,
                                   tcpWith(kTimestamps, std::string_view("\x94\x04\x00\x00", 4))),
            "http://S/v/a.asf?k=1"},
        HeaderCase{"LongestIpHeader",
                   test_packets::datagram(kRequest, tcpWith({}, std::string(40, '\x01'))),
                   "http://S/v/a.asf?k=1"},
        HeaderCase{"IpHeaderLengthBelowFive",
                   changed(test_packets::datagram(kRequest, tcpWith(kTimestamps)), 0, 0x44),
                   nullptr},
        HeaderCase{"DataOffsetBelowFive", changed(test_packets::datagram(kRequest), 32, 0x40),
                   nullptr},
        HeaderCase{"PayloadStartBeyondTheEnd", changed(test_packets::datagram("ab.asf"), 32, 0xF0),
                   nullptr},
        HeaderCase{"IpHeaderBeyondTheEnd", changed(test_packets::datagram("x"), 0, 0x4F), nullptr},
        HeaderCase{"Ipv6", ipv6With({}), "http://S/v/a.asf?k=1"},
        HeaderCase{"Ipv6HopByHopRoutingDestination", ipv6With({{0, 8}, {43, 24}, {60, 16}}),
                   "http://S/v/a.asf?k=1"},
        HeaderCase{"Ipv6FirstFragment", ipv6With({{44, 8, 0x0001}}), "http://S/v/a.asf?k=1"},
        HeaderCase{"Ipv6LaterFragment", ipv6With({{44, 8, 0x0040}}), nullptr},
        HeaderCase{"Ipv6AuthenticationHeaderNotWalked", ipv6With({{51, 16}}), nullptr},
        HeaderCase{"Ipv6Udp", ipv6With({}, 17), nullptr},
        HeaderCase{"Ipv6OtherPort", ipv6With({}, 6, 8080), nullptr},
        HeaderCase{"Ipv6ChainBeyondTheEnd", changed(ipv6With({{60, 8}}), 41, 0xFF), nullptr},
        HeaderCase{"Ipv6TooShort", cut(ipv6With({}), 39), nullptr}),
    CaseName{});

TEST(StreamDecoder, Ipv6RecordsCarryTheAddressesAndHeaderFields) {
    test_packets::Ipv6 ip;
    ip.trafficClass = 0xB8;
    ip.hopLimit = 57;
    auto datagram = test_packets::datagram6(kRequest, tcpWith(kTimestamps), ip);
    Outcome out = decode(datagram, *SuffixTable::withKnownSuffixes());
    ASSERT_EQ(out.result, 0);
    EXPECT_TRUE(IsIpv6(out.record));
    EXPECT_EQ(out.record.tos, 0xB8);
    EXPECT_EQ(out.record.ttl, 57);
    EXPECT_EQ(out.record.protocol, 6);
    EXPECT_EQ(out.record.totalLength, datagram.size() - 40);
    EXPECT_EQ(out.record.srcAddr, 0u);
    EXPECT_EQ(0, std::memcmp(out.record.srcAddr6, ip.srcAddr, 16));
    EXPECT_EQ(0, std::memcmp(out.record.dstAddr6, ip.dstAddr, 16));
    EXPECT_EQ(out.record.dataOffset, 0x80);  // as received: 32 bytes with the timestamps
    EXPECT_EQ(out.record.seq, 0x01020304u);
    EXPECT_FALSE(IsIpv6(decode(kRequest).record));
}

TEST(StreamDecoder, AddedPortsAreWatchedAndServeHttp) {
    WatchedPorts ports;
    ASSERT_TRUE(ports.add(8000));
    ASSERT_TRUE(ports.add(8080));
    auto table = SuffixTable::withKnownSuffixes();
    struct PortCase {
        std::uint16_t src, dst;
        const char* host;  // null: rejected
    } cases[] = {
        {40000, 8080, "http://S:8080"}, {40000, 8000, "http://S:8080"},
        {8080, 40000, "msst://S:8080"}, {40000, 1755, "msst://S:8080"},
        {40000, 8200, nullptr},
    };
    for (const PortCase& c : cases) {
        Tcp tcp;
        tcp.srcPort = c.src;
        tcp.dstPort = c.dst;
        auto packet = std::make_unique<CapturedPacket>(test_packets::packet(
            test_packets::datagram("GET /r.mp3 HTTP/1.0\r\nHost: S:8080\r\n", tcp)));
        DetectedStream r;
        int result = StreamDecoder::decode(*packet, *table, nullptr, ports, r);
        if (!WatchedPorts{}.contains(c.src) && !WatchedPorts{}.contains(c.dst)) {
            EXPECT_EQ(StreamDecoder::decode(*packet, *table, nullptr, r), -1) << "not by default";
        }
        if (c.host == nullptr) {
            EXPECT_EQ(result, -1) << c.dst;
            continue;
        }
        ASSERT_EQ(result, 0) << c.dst;
        EXPECT_STREQ(r.host, c.host) << c.src << "->" << c.dst;
    }

    StreamDecoder decoder;
    decoder.setSuffixTable(table);
    decoder.setWatchedPorts(ports);
    Tcp tcp;
    tcp.dstPort = 8000;
    auto packet = std::make_unique<CapturedPacket>(
        test_packets::packet(test_packets::datagram("GET /r.mp3 HTTP/1.0\r\nHost: S\r\n", tcp)));
    DetectedStream r;
    EXPECT_EQ(decoder.decode(*packet, r), 0);
    EXPECT_TRUE(decoder.worthDecoding(packet->data, packet->length));
}

TEST(WatchedPorts, KeepsTheFixedThreeAndABoundedFewMore) {
    WatchedPorts ports;
    EXPECT_EQ(std::vector<std::uint16_t>(ports.all().begin(), ports.all().end()),
              (std::vector<std::uint16_t>{80, 1755, 554}));
    EXPECT_FALSE(ports.add(0));
    EXPECT_TRUE(ports.add(80));
    EXPECT_FALSE(ports.isAdded(80));
    for (std::uint16_t port = 9000; port < 9000 + WatchedPorts::kMaxAdded; ++port) {
        EXPECT_TRUE(ports.add(port));
        EXPECT_TRUE(ports.add(port)) << "a repeat is no new port";
    }
    EXPECT_FALSE(ports.add(8000)) << "full";
    EXPECT_TRUE(ports.contains(9000 + WatchedPorts::kMaxAdded - 1));
    EXPECT_FALSE(ports.contains(8000));
    EXPECT_EQ(ports.added().size(), WatchedPorts::kMaxAdded);
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

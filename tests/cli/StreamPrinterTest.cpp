#include "cli/StreamPrinter.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "cli/JsonLine.h"

namespace {

std::string urlField(const std::string& line) {
    std::size_t start = line.find(",\"url\":");
    std::size_t end = line.find(",\"suffix\":");
    if (start == std::string::npos || end == std::string::npos) {
        return {};
    }
    start += std::strlen(",\"url\":");
    return line.substr(start, end - start);
}

}  // namespace

// The URL must be escaped as one string, also where a character spans host and path.
TEST(StreamPrinter, JsonUrlIsHostAndPathEscapedAsOneString) {
    struct Case {
        const char* name;
        const char* host;
        const char* path;
        const char* query = "";
    };
    const Case cases[] = {
        {"plain", "http://s.example", "/v/a.asf"},
        {"valid UTF-8 host", "http://完了", "/a.asf"},
        {"character split between host and path", "http://h\xE5\xAE", "\x8C/a.asf"},
        {"invalid byte at the host's end", "http://h\x82", "\xA0/a.asf"},
        {"escaped quote in the host", "http://a\"b", "/\\a.asf"},
        {"query", "http://s.example", "/v/a.asf", "?sig=a%2F&exp=1"},
        {"query after a split character", "http://h\xE5\xAE", "\x8C/a.asf", "?t=\xE5\xAE\x8C"},
        {"query with bytes to escape", "http://h\x82", "/a.asf", "?t=\\\x82"},
    };
    for (const Case& c : cases) {
        DetectedStream stream{};
        std::strcpy(stream.host, c.host);
        std::strcpy(stream.path, c.path);
        std::strcpy(stream.query, c.query);
        std::string expected;
        JsonLine::appendEscaped(expected, std::string(c.host) + c.path + c.query);
        EXPECT_EQ(urlField(StreamPrinter::line(stream, StreamPrinter::Format::Json)), expected)
            << c.name;
    }
}

// Text lines come from the wire: nothing in them may reach the terminal as a control.
TEST(StreamPrinter, TextLineEscapesControlsAndInvalidBytes) {
    struct Case {
        const char* name;
        const char* host;
        const char* path;
        const char* line;
    };
    const Case cases[] = {
        {"plain", "http://s", "/v/a.asf", "http://s/v/a.asf\t.asf\tWindows Media Format"},
        {"title escape in the path", "http://s",
         "/\x1B]0;x\x07"
         "a.asf",
         "http://s/\\x1B]0;x\\x07a.asf\t.asf\tWindows Media Format"},
        {"carriage return in the host", "http://s\r", "/a.asf",
         "http://s\\x0D/a.asf\t.asf\tWindows Media Format"},
        {"character split between host and path", "http://h\xE5\xAE", "\x8C/a.asf",
         "http://h\xE5\xAE\x8C/a.asf\t.asf\tWindows Media Format"},
        {"invalid byte", "http://h\x82", "/a.asf",
         "http://h\\x82/a.asf\t.asf\tWindows Media Format"},
    };
    for (const Case& c : cases) {
        DetectedStream stream{};
        std::strcpy(stream.host, c.host);
        std::strcpy(stream.path, c.path);
        std::strcpy(stream.suffix, ".asf");
        std::strcpy(stream.typeName, "Windows Media Format");
        EXPECT_EQ(StreamPrinter::line(stream, StreamPrinter::Format::Text), c.line) << c.name;
    }
}

TEST(StreamPrinter, QueryFollowsPathAndIpv6AddressesAreText) {
    DetectedStream stream{};
    std::strcpy(stream.scheme, "http");
    std::strcpy(stream.host, "http://[2001:db8::1]:8080");
    std::strcpy(stream.path, "/r.mp3");
    std::strcpy(stream.query, "?token=x");
    std::strcpy(stream.suffix, ".mp3");
    std::strcpy(stream.typeName, "MP3");
    stream.verIhl = 0x60;
    const std::uint8_t source[16] = {0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    const std::uint8_t destination[16] = {0xfe, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0};
    std::memcpy(stream.srcAddr6, source, 16);
    std::memcpy(stream.dstAddr6, destination, 16);
    stream.srcPort = 50000;
    stream.dstPort = 8080;
    EXPECT_EQ(StreamPrinter::line(stream, StreamPrinter::Format::Json),
              "{\"scheme\":\"http\",\"host\":\"http://[2001:db8::1]:8080\",\"path\":\"/r.mp3\","
              "\"query\":\"?token=x\",\"url\":\"http://[2001:db8::1]:8080/r.mp3?token=x\","
              "\"suffix\":\".mp3\",\"typeName\":\"MP3\",\"referer\":\"\",\"userAgent\":\"\","
              "\"srcAddr\":\"2001:db8::1\","
              "\"dstAddr\":\"fe80::1:0:0\",\"srcPort\":50000,\"dstPort\":8080}");
    EXPECT_EQ(StreamPrinter::line(stream, StreamPrinter::Format::Text),
              "http://[2001:db8::1]:8080/r.mp3?token=x\t.mp3\tMP3");
}

TEST(StreamPrinter, JsonCarriesRefererAndUserAgentButNeverTheCookie) {
    DetectedStream stream{};
    std::strcpy(stream.scheme, "http");
    std::strcpy(stream.host, "http://S");
    std::strcpy(stream.path, "/v.mp4");
    std::strcpy(stream.referer, "http://page/\"x\"");
    std::strcpy(stream.userAgent, "Player/1.0 (\\)");
    std::strcpy(stream.cookie, "session=SECRET");
    std::string line = StreamPrinter::line(stream, StreamPrinter::Format::Json);
    EXPECT_NE(
        line.find(",\"referer\":\"http://page/\\\"x\\\"\",\"userAgent\":\"Player/1.0 (\\\\)\","),
        std::string::npos)
        << line;
    EXPECT_EQ(line.find("SECRET"), std::string::npos) << line;
    EXPECT_EQ(line.find("cookie"), std::string::npos) << line;
    EXPECT_EQ(StreamPrinter::line(stream, StreamPrinter::Format::Text).find("SECRET"),
              std::string::npos);
}

// Addresses and ports at the edges of their digit counts.
TEST(StreamPrinter, JsonAddressesAndPortsKeepEveryDigit) {
    const struct {
        std::uint32_t source;
        std::uint32_t destination;
        std::uint16_t sourcePort;
        std::uint16_t destinationPort;
        const char* tail;
    } cases[] = {
        {0, 0xFFFFFFFFu, 0, 65535,
         "\"srcAddr\":\"0.0.0.0\",\"dstAddr\":\"255.255.255.255\",\"srcPort\":0,\"dstPort\":"
         "65535}"},
        {0x0A09630Bu, 0x64C80163u, 9, 10,
         "\"srcAddr\":\"10.9.99.11\",\"dstAddr\":\"100.200.1.99\",\"srcPort\":9,\"dstPort\":10}"},
        {0xC0A80001u, 0x7F000001u, 99, 100,
         "\"srcAddr\":\"192.168.0.1\",\"dstAddr\":\"127.0.0.1\",\"srcPort\":99,\"dstPort\":100}"},
        {0x01020304u, 0x05060708u, 1000, 10001,
         "\"srcAddr\":\"1.2.3.4\",\"dstAddr\":\"5.6.7.8\",\"srcPort\":1000,\"dstPort\":10001}"},
    };
    for (const auto& c : cases) {
        DetectedStream stream{};
        std::strcpy(stream.host, "http://s");
        std::strcpy(stream.path, "/a.asf");
        stream.verIhl = 0x45;
        stream.srcAddr = c.source;
        stream.dstAddr = c.destination;
        stream.srcPort = c.sourcePort;
        stream.dstPort = c.destinationPort;
        std::string line = StreamPrinter::line(stream, StreamPrinter::Format::Json);
        EXPECT_TRUE(line.ends_with(c.tail)) << line;
    }
}

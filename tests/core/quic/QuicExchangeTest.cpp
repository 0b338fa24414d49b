#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "QuicExchange.h"
#include "QuicHeard.h"
#include "core/quic/QuicConnectionTable.h"
#include "core/quic/QuicVarInt.h"
#include "support/CaseName.h"

namespace {

// The payloads of the HTTP/3 DATA frames on a response stream, joined.
std::string dataFrames(const std::string& stream) {
    std::string body;
    ByteReader reader({reinterpret_cast<const std::uint8_t*>(stream.data()), stream.size()});
    std::uint64_t type = 0, length = 0;
    std::span<const std::uint8_t> payload;
    while (QuicVarInt::read(reader, type) && QuicVarInt::read(reader, length) &&
           reader.bytes(length, payload)) {
        if (type == 0) {
            body.append(payload.begin(), payload.end());
        }
    }
    return body;
}

void feed(const QuicExchange& exchange, QuicConnectionTable& table) {
    std::uint64_t micros = 1'000'000;
    for (const QuicExchange::Datagram& datagram : exchange.datagrams) {
        QuicDatagram in;
        in.sourceAddr = {127, 0, 0, 1};
        in.destinationAddr = {127, 0, 0, 1};
        in.sourcePort = datagram.fromClient ? exchange.clientPort : exchange.serverPort;
        in.destinationPort = datagram.fromClient ? exchange.serverPort : exchange.clientPort;
        in.payload = datagram.bytes;
        in.micros = micros += 1000;
        table.onDatagram(in);
    }
}

// What a conversation does besides one request and its response.
enum class Twist { None, KeyUpdate, EmptyClientId, Retry, NoKeyLog };

struct ExchangeCase {
    const char* name;
    std::vector<std::string> clientArgs;
    std::vector<std::string> serverArgs;
    Twist twist;
};

// Whether the recorded conversation really took the turn the row is about.
bool tookTwist(const QuicExchange& exchange, Twist twist) {
    const std::vector<std::uint8_t>& first = exchange.datagrams.front().bytes;
    auto isRetry = [](const QuicExchange::Datagram& d) {
        return !d.fromClient && (d.bytes[0] & 0xB0) == 0xB0;  // long header, type 3 in v1
    };
    switch (twist) {
        case Twist::EmptyClientId:
            return first.size() > 6u + first[5] && first[6 + first[5]] == 0;
        case Twist::Retry:
            return std::any_of(exchange.datagrams.begin(), exchange.datagrams.end(), isRetry);
        default:
            return true;
    }
}

void PrintTo(const ExchangeCase& c, std::ostream* out) {
    *out << c.name;
}

const std::string kTls13 = "NORMAL:-VERS-ALL:+VERS-TLS1.3:-CIPHER-ALL:";

class QuicExchangeRead : public testing::TestWithParam<ExchangeCase> {};

TEST_P(QuicExchangeRead, GivesTheStreamsBothSidesSent) {
    const ExchangeCase& c = GetParam();
    QuicExchangeOptions options;
    options.clientArgs = c.clientArgs;
    options.serverArgs = c.serverArgs;
    options.keyLog = c.twist != Twist::NoKeyLog;
    for (int i = 0; options.body.size() < 60000; ++i) {
        options.body += "segment " + std::to_string(i) + ";";
    }
    QuicExchange exchange;
    runQuicExchange(options, exchange);
    ASSERT_TRUE(exchange.completed);
    ASSERT_TRUE(tookTwist(exchange, c.twist));

    KeyLog keys;
    keys.addText(exchange.keyLog);
    std::map<std::string, std::string> heard;
    QuicConnectionTable table(
        {}, keys, [&heard](const FlowInfo&) { return std::make_unique<QuicHeard>(heard); });
    feed(exchange, table);
    table.endAll();

    EXPECT_EQ(heard["offer"], "h3");  // one hello
    EXPECT_EQ(table.counters().keyUpdates > 0, c.twist == Twist::KeyUpdate);
    if (c.twist == Twist::NoKeyLog) {
        EXPECT_EQ(heard["end"], std::to_string(static_cast<int>(QuicEnd::NoKeys)));
        EXPECT_EQ(heard.count("0<"), 0u);
        return;
    }
    EXPECT_EQ(heard["end"], std::to_string(static_cast<int>(QuicEnd::Closed)));
    EXPECT_EQ(heard["alpn"], "h3");
    EXPECT_TRUE(dataFrames(heard["0<"]) == options.body);  // not printed: 60 kB
    // Both ends of the request stream; the request's HEADERS frame; each side's control
    // stream (type 0x00) starting with SETTINGS.
    EXPECT_EQ(heard["0<"].back(), '|');
    EXPECT_EQ(heard["0>"].substr(0, 1) + heard["0>"].back(), "\x01|");
    EXPECT_EQ(heard["2>"].substr(0, 2), std::string("\x00\x04", 2));
    EXPECT_EQ(heard["3<"].substr(0, 2), std::string("\x00\x04", 2));
}

INSTANTIATE_TEST_SUITE_P(
    Ngtcp2, QuicExchangeRead,
    testing::Values(
        ExchangeCase{"Aes128Gcm", {"--ciphers=" + kTls13 + "+AES-128-GCM"}, {}, Twist::None},
        ExchangeCase{"Aes256Gcm", {"--ciphers=" + kTls13 + "+AES-256-GCM"}, {}, Twist::None},
        ExchangeCase{"ChaCha20", {"--ciphers=" + kTls13 + "+CHACHA20-POLY1305"}, {}, Twist::None},
        ExchangeCase{
            "KeyUpdate", {"--key-update=1ms", "--delay-stream=20ms"}, {}, Twist::KeyUpdate},
        ExchangeCase{"EmptyClientId", {"--scid="}, {}, Twist::EmptyClientId},
        ExchangeCase{"Retry", {}, {"-V"}, Twist::Retry},
        ExchangeCase{"WithoutKeyLog", {}, {}, Twist::NoKeyLog}),
    CaseName{});

}  // namespace

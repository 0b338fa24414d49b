// Synthetic QUIC connections sealed at test time: a ClientHello over several Initial packets
// out of order, coalesced packets of all levels, stream data out of order and repeated, a new
// connection ID, a key update, and the key log early, late, naming another random or absent.
#include "core/quic/QuicConnectionTable.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "QuicHeard.h"
#include "QuicPacketSealer.h"
#include "core/quic/QuicInitialSecrets.h"
#include "support/CaseName.h"

namespace {

using Type = QuicPacketType;
using Bytes = std::vector<std::uint8_t>;

enum class Keys { Before, Late, OtherRandom, Never };
enum Twist : unsigned {
    kNoTwist = 0,
    kEmptyClientId = 1,  // the client is reached by its address
    kKeyUpdate = 2,      // the server's last packet uses the next key phase
    kUnknownFrame = 4,   // the client sends a frame no version defines
    kGoesIdle = 8,       // the client's close comes after the idle time
};

struct ConnectionCase {
    const char* name;
    std::uint32_t version;
    std::uint16_t suite;
    Keys keys;
    unsigned twists;
    QuicEnd end;
    const char* heard;  // what the consumer heard, stream by stream
};

void PrintTo(const ConnectionCase& c, std::ostream* out) {
    *out << c.name;
}

QuicConnectionId id(std::size_t length, std::uint8_t fill) {
    return *QuicConnectionId::of(Bytes(length, fill));
}

Bytes join(std::initializer_list<Bytes> pieces) {
    Bytes out;
    for (const Bytes& piece : pieces) {
        out.insert(out.end(), piece.begin(), piece.end());
    }
    return out;
}

std::string hexOf(const Bytes& bytes) {
    static const char kDigits[] = "0123456789abcdef";
    std::string out;
    for (std::uint8_t byte : bytes) {
        out += kDigits[byte >> 4];
        out += kDigits[byte & 15];
    }
    return out;
}

// The datagrams of one conversation, and the key log lines for it.
struct Conversation {
    std::vector<std::pair<bool, Bytes>> datagrams;
    std::string keyLog;
};

Conversation converse(const ConnectionCase& c) {
    using namespace quic_frames;
    const QuicVersion& version = *QuicVersion::find(c.version);
    const TlsCipherSuite& suite = *TlsCipherSuite::find(c.suite, TlsCipherSuite::kTls13);
    const QuicConnectionId firstDcid = id(8, 0x11), serverId = id(5, 0x5E),
                           nextServerId = id(5, 0x77);
    const QuicConnectionId clientId = (c.twists & kEmptyClientId) != 0 ? id(0, 0) : id(4, 0xC1);
    const std::uint8_t random[32] = {0x42, 0x42, 0x42, 0x42};
    QuicInitialSecrets initial;
    QuicInitialSecrets::derive(version, firstDcid.view(), initial);
    const TlsCipherSuite& aes128 = QuicInitialSecrets::suite();
    QuicPacketSealer clientInitial(version, aes128, initial.client.bytes());
    QuicPacketSealer serverInitial(version, aes128, initial.server.bytes());
    Bytes secrets[4];  // client and server handshake, client and server traffic
    Conversation out;
    const char* labels[4] = {"CLIENT_HANDSHAKE_TRAFFIC_SECRET", "SERVER_HANDSHAKE_TRAFFIC_SECRET",
                             "CLIENT_TRAFFIC_SECRET_0", "SERVER_TRAFFIC_SECRET_0"};
    const Bytes namedRandom(32, c.keys == Keys::OtherRandom ? 0x99 : 0x00);
    for (int i = 0; i < 4; ++i) {
        secrets[i] = Bytes(suite.hashLength, static_cast<std::uint8_t>(0x21 + i));
        Bytes named = c.keys == Keys::OtherRandom ? namedRandom : Bytes(random, random + 32);
        out.keyLog += std::string(labels[i]) + " " + hexOf(named) + " " + hexOf(secrets[i]) + "\n";
    }
    QuicPacketSealer clientHandshake(version, suite, secrets[0]);
    QuicPacketSealer serverHandshake(version, suite, secrets[1]);
    QuicPacketSealer client1Rtt(version, suite, secrets[2]);
    QuicPacketSealer server1Rtt(version, suite, secrets[3]);

    const Bytes hello = clientHello(random, "media.quorvex.test", 2600);
    auto helloPiece = [&](std::size_t index) {
        std::size_t from = index * 1000, to = std::min(hello.size(), from + 1000);
        return crypto(from, std::span(hello).subspan(from, to - from));
    };
    auto client = [&](Bytes datagram) { out.datagrams.push_back({true, std::move(datagram)}); };
    auto server = [&](Bytes datagram) { out.datagrams.push_back({false, std::move(datagram)}); };
    // The hello's third piece before its first, coalesced; its second comes after the server's.
    client(join({clientInitial.seal(Type::Initial, firstDcid, clientId, 0, helloPiece(2)),
                 clientInitial.seal(Type::Initial, firstDcid, clientId, 1, helloPiece(0))}));
    const Bytes sh = serverHello(c.suite), ee = encryptedExtensions("h3");
    server(join({serverInitial.seal(Type::Initial, clientId, serverId, 0, crypto(0, sh)),
                 serverHandshake.seal(Type::Handshake, clientId, serverId, 0, crypto(0, ee)),
                 server1Rtt.seal(Type::OneRtt, clientId, {}, 0, stream(3, 0, "C:", false))}));
    client(clientInitial.seal(Type::Initial, serverId, clientId, 2, helloPiece(1)));
    client(client1Rtt.seal(Type::OneRtt, serverId, {}, 0, stream(0, 0, "GET /clip.mp4", true)));
    server(server1Rtt.seal(Type::OneRtt, clientId, {}, 1,
                           join({stream(0, 6, "world!", true), newConnectionId(1, nextServerId)})));
    server(server1Rtt.seal(Type::OneRtt, clientId, {}, 2,
                           join({stream(0, 0, "hello ", false), stream(0, 0, "hello w", false)})));
    const Bytes lastFrame =
        (c.twists & kUnknownFrame) != 0 ? Bytes{0x21, 0x00} : stream(2, 0, "ctrl", false);
    client(client1Rtt.seal(Type::OneRtt, nextServerId, {}, 1, lastFrame));
    if ((c.twists & kKeyUpdate) != 0) {
        server1Rtt.update();
    }
    server(server1Rtt.seal(Type::OneRtt, clientId, {}, 3, stream(3, 2, "more", false)));
    client(client1Rtt.seal(Type::OneRtt, nextServerId, {}, 2, connectionClose()));
    return out;
}

class QuicConnectionRead : public testing::TestWithParam<ConnectionCase> {};

TEST_P(QuicConnectionRead, HearsTheHelloAndTheStreams) {
    const ConnectionCase& c = GetParam();
    Conversation conversation = converse(c);
    KeyLog keys;
    if (c.keys == Keys::Before || c.keys == Keys::OtherRandom) {
        keys.addText(conversation.keyLog);
    }
    std::map<std::string, std::string> heard;
    int followed = 0;
    QuicConnectionTable table({}, keys, [&](const FlowInfo& info) {
        EXPECT_EQ(info.clientPort, 50000);
        ++followed;
        return std::make_unique<QuicHeard>(heard);
    });
    std::uint64_t micros = 0;
    for (const auto& [fromClient, bytes] : conversation.datagrams) {
        const bool last = &bytes == &conversation.datagrams.back().second;
        if (c.keys == Keys::Late && last) {
            keys.addText(conversation.keyLog);
            table.retry();
        }
        QuicDatagram datagram;
        datagram.sourceAddr = datagram.destinationAddr = {10, 0, 0, 1};
        datagram.destinationAddr[3] = 2;
        datagram.sourcePort = fromClient ? 50000 : 443;
        datagram.destinationPort = fromClient ? 443 : 50000;
        if (!fromClient) {
            std::swap(datagram.sourceAddr, datagram.destinationAddr);
        }
        datagram.payload = bytes;
        const bool late = (c.twists & kGoesIdle) != 0 && last;
        micros += 1000 + (late ? QuicConnectionTable::Limits{}.idleMicros : 0);
        datagram.micros = micros;
        // A connection that ended is forgotten: its later packets are no one's.
        const bool gone =
            (c.end == QuicEnd::Unreadable && micros >= 8000) || (c.end == QuicEnd::Idle && last);
        EXPECT_EQ(table.onDatagram(datagram), !gone);
    }
    table.endAll();
    EXPECT_EQ(followed, 1);
    EXPECT_EQ(heard["name"], "media.quorvex.test");
    EXPECT_EQ(heard["offer"], "h3");
    EXPECT_EQ(heard["end"], std::to_string(static_cast<int>(c.end)));
    std::string streams;
    for (const auto& [key, text] : heard) {
        if (key.back() == '>' || key.back() == '<') {
            streams += key + text + " ";
        }
    }
    EXPECT_EQ(streams + heard["alpn"], c.heard);
    EXPECT_EQ(table.bytesHeld(), 0u);
}

constexpr std::uint32_t kV1 = QuicVersion::kV1;
constexpr std::uint32_t kV2 = QuicVersion::kV2;
const char kAll[] = "0<hello world!| 0>GET /clip.mp4| 2>ctrl 3<C:more h3";

INSTANTIATE_TEST_SUITE_P(
    Synthetic, QuicConnectionRead,
    testing::Values(
        ConnectionCase{"Aes128Gcm", kV1, 0x1301, Keys::Before, kNoTwist, QuicEnd::Closed, kAll},
        ConnectionCase{"Aes256Gcm", kV1, 0x1302, Keys::Before, kNoTwist, QuicEnd::Closed, kAll},
        ConnectionCase{"ChaCha20", kV1, 0x1303, Keys::Before, kNoTwist, QuicEnd::Closed, kAll},
        ConnectionCase{"Version2", kV2, 0x1301, Keys::Before, kNoTwist, QuicEnd::Closed, kAll},
        ConnectionCase{"KeyUpdate", kV2, 0x1303, Keys::Before, kKeyUpdate, QuicEnd::Closed, kAll},
        ConnectionCase{"EmptyClientId", kV1, 0x1301, Keys::Before, kEmptyClientId, QuicEnd::Closed,
                       kAll},
        ConnectionCase{"KeysLate", kV1, 0x1301, Keys::Late, kNoTwist, QuicEnd::Closed, kAll},
        ConnectionCase{"KeysNameAnotherRandom", kV1, 0x1302, Keys::OtherRandom, kNoTwist,
                       QuicEnd::Closed, kAll},
        ConnectionCase{"GoesIdle", kV1, 0x1301, Keys::Before, kGoesIdle, QuicEnd::Idle, kAll},
        ConnectionCase{"NoKeys", kV1, 0x1301, Keys::Never, kNoTwist, QuicEnd::NoKeys, ""},
        ConnectionCase{"UnknownFrame", kV1, 0x1301, Keys::Before, kUnknownFrame,
                       QuicEnd::Unreadable, "0<hello world!| 0>GET /clip.mp4| 3<C: h3"}),
    CaseName{});

}  // namespace

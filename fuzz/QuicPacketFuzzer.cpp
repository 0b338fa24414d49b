// Feeds a QUIC connection table with datagrams the input describes. Random bytes never pass the
// packets' authentication, so most pieces are frames that the fuzzer seals itself, with the
// keys of a connection whose hellos and key log lines come first; other pieces are raw
// datagrams for the header parsing and the routing.
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "QuicPacketSealer.h"
#include "core/quic/QuicConnectionTable.h"
#include "core/quic/QuicInitialSecrets.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using Type = QuicPacketType;

struct CountingConsumer : QuicConsumer {
    explicit CountingConsumer(std::size_t& bytes) : bytes(bytes) {}
    bool onStreamBytes(std::uint64_t, bool, std::span<const std::uint8_t> data, bool) override {
        bytes += data.size();
        return true;
    }
    void onEnd(QuicEnd) override {}
    std::size_t& bytes;
};

QuicConnectionId id(std::uint8_t fill) {
    return *QuicConnectionId::of(Bytes(8, fill));
}

// The sealers of one side: Initial, Handshake and 1-RTT.
struct SideKeys {
    QuicPacketSealer levels[3];
};

SideKeys sideKeys(const QuicVersion& version, const QuicInitialSecrets& initial, bool client) {
    const TlsCipherSuite& suite = QuicInitialSecrets::suite();
    const Bytes handshake(32, client ? 0x21 : 0x22), traffic(32, client ? 0x23 : 0x24);
    return {{QuicPacketSealer(version, suite, (client ? initial.client : initial.server).bytes()),
             QuicPacketSealer(version, suite, handshake),
             QuicPacketSealer(version, suite, traffic)}};
}

std::string keyLogText() {
    const std::string random(64, '0');
    std::string text;
    const char* labels[] = {"CLIENT_HANDSHAKE_TRAFFIC_SECRET", "SERVER_HANDSHAKE_TRAFFIC_SECRET",
                            "CLIENT_TRAFFIC_SECRET_0", "SERVER_TRAFFIC_SECRET_0"};
    const char* secrets[] = {"21", "22", "23", "24"};
    for (int i = 0; i < 4; ++i) {
        std::string secret;
        for (int j = 0; j < 32; ++j) {
            secret += secrets[i];
        }
        text += std::string(labels[i]) + " " + random + " " + secret + "\n";
    }
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::span<const std::uint8_t> input(data, size);
    const QuicVersion& version =
        *QuicVersion::find((size & 1) != 0 ? QuicVersion::kV2 : QuicVersion::kV1);
    const QuicConnectionId clientId = id(0xC1), serverId = id(0x5E), firstDcid = id(0x11);
    QuicInitialSecrets initial;
    QuicInitialSecrets::derive(version, firstDcid.view(), initial);
    SideKeys client = sideKeys(version, initial, true), server = sideKeys(version, initial, false);

    KeyLog keys;
    keys.addText(keyLogText());
    std::size_t delivered = 0;
    QuicConnectionTable::Limits limits;
    limits.connection.streamHeld = 16 * 1024;
    limits.connection.streams = 64;
    QuicConnectionTable table(limits, keys, [&delivered](const FlowInfo&) {
        return std::make_unique<CountingConsumer>(delivered);
    });
    std::uint64_t micros = 0;
    auto send = [&](bool fromClient, const Bytes& payload) {
        QuicDatagram datagram;
        datagram.sourceAddr = {10, 0, 0, static_cast<std::uint8_t>(fromClient ? 1 : 2)};
        datagram.destinationAddr = {10, 0, 0, static_cast<std::uint8_t>(fromClient ? 2 : 1)};
        datagram.sourcePort = fromClient ? 50000 : 443;
        datagram.destinationPort = fromClient ? 443 : 50000;
        datagram.payload = payload;
        datagram.micros = micros += 1000;
        table.onDatagram(datagram);
    };
    const std::uint8_t random[32] = {};
    send(true, client.levels[0].seal(
                   Type::Initial, firstDcid, clientId, 0,
                   quic_frames::crypto(0, quic_frames::clientHello(random, "fuzz.test", 0))));
    send(false, server.levels[0].seal(Type::Initial, clientId, serverId, 0,
                                      quic_frames::crypto(0, quic_frames::serverHello(0x1301))));

    // Each piece: a control byte (bit 0: from the client; bits 1-2: Initial, Handshake, 1-RTT or
    // a raw datagram; bit 3: the sender updates its 1-RTT key first; bit 4: the key log's lines
    // are retried), a length byte, then that many bytes.
    std::uint64_t numbers[2][3] = {};
    while (input.size() >= 2) {
        const std::uint8_t control = input[0];
        const std::size_t length = std::min<std::size_t>(input[1] * 8u + 1, input.size() - 2);
        const Bytes piece(input.begin() + 2,
                          input.begin() + 2 + static_cast<std::ptrdiff_t>(length));
        input = input.subspan(2 + length);
        const bool fromClient = (control & 1) != 0;
        const int level = control >> 1 & 3;
        SideKeys& sender = fromClient ? client : server;
        if ((control & 8) != 0) {
            sender.levels[2].update();
        }
        if (level == 3) {
            send(fromClient, piece);
        } else if (!piece.empty()) {
            static constexpr Type kTypes[] = {Type::Initial, Type::Handshake, Type::OneRtt};
            send(fromClient,
                 sender.levels[level].seal(kTypes[level], fromClient ? serverId : clientId,
                                           fromClient ? clientId : serverId,
                                           numbers[fromClient][level]++, piece));
        }
        if ((control & 16) != 0) {
            table.retry();
        }
    }
    table.endAll();
    if (table.bytesHeld() != 0 || table.connectionCount() != 0 || delivered > size) {
        __builtin_trap();
    }
    return 0;
}

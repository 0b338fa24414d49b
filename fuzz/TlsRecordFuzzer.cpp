// Feeds arbitrary bytes to a TLS connection as both directions of a TCP connection, in pieces
// the input chooses, with a key log that names the random of a ClientHello made of zeros.
#include <cstdint>
#include <span>
#include <string>

#include "core/tls/TlsConnection.h"

namespace {

struct CountingSink : TlsPlaintextSink {
    std::size_t bytes = 0;
    void onApplicationData(bool, std::span<const std::uint8_t> data) override {
        bytes += data.size();
    }
};

// Made afresh for each input: a connection's claim must not change the next input's run.
void fillKeyLog(KeyLog& keys) {
    const std::string random(64, '0');
    const std::string secret(64, '5');
    for (const char* label : {"CLIENT_HANDSHAKE_TRAFFIC_SECRET", "SERVER_HANDSHAKE_TRAFFIC_SECRET",
                              "CLIENT_TRAFFIC_SECRET_0", "SERVER_TRAFFIC_SECRET_0"}) {
        keys.addText(std::string(label) + " " + random + " " + secret + "\n");
    }
    keys.addText("CLIENT_RANDOM " + random + " " + std::string(96, '7') + "\n");
    // An entry no ClientHello names, for the trial of recent entries.
    keys.addText("SERVER_HANDSHAKE_TRAFFIC_SECRET " + std::string(64, '9') + " " + secret + "\n");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::span<const std::uint8_t> input(data, size);
    KeyLog keys;
    fillKeyLog(keys);
    TlsConnection connection(TlsConnection::Limits{64 * 1024});
    CountingSink sink;
    // Each piece: one control byte (bit 0: direction, bit 1: retry after it, the rest: a
    // length), then that many bytes.
    while (!input.empty()) {
        std::uint8_t control = input[0];
        input = input.subspan(1);
        std::size_t length =
            std::min<std::size_t>(input.size(), static_cast<std::size_t>(control >> 2) * 37 + 1);
        connection.feed((control & 1) != 0, input.first(length), keys, sink);
        if ((control & 2) != 0) {
            connection.retry(keys, sink);
        }
        input = input.subspan(length);
    }
    connection.stopWaiting();
    if (connection.alpn().size() > 255 || connection.serverName().size() > 255 ||
        sink.bytes > size) {
        __builtin_trap();
    }
    return 0;
}

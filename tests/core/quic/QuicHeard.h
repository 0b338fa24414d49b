#pragma once

#include <map>
#include <string>

#include "core/quic/QuicConsumer.h"

// Writes down what a followed connection carried, by key: "name" and "offer" (the hello's server
// name and first ALPN offer), "alpn", "end" (a digit per end), and "0>" / "0<" for the bytes
// of stream 0 from the client / the server, with "|" where a stream ended.
struct QuicHeard : QuicConsumer {
    explicit QuicHeard(std::map<std::string, std::string>& into) : heard(into) {}
    bool onHello(const ClientHello& hello) override {
        heard["name"] += hello.serverName;
        heard["offer"] += hello.alpnOffers.empty() ? "" : hello.alpnOffers.front();
        return true;
    }
    void onAlpn(std::string_view protocol) override { heard["alpn"] += protocol; }
    bool onStreamBytes(std::uint64_t stream, bool fromClient, std::span<const std::uint8_t> bytes,
                       bool fin) override {
        std::string& text = heard[std::to_string(stream) + (fromClient ? ">" : "<")];
        text.append(bytes.begin(), bytes.end());
        text += fin ? "|" : "";
        return true;
    }
    void onEnd(QuicEnd why) override { heard["end"] += std::to_string(static_cast<int>(why)); }

    std::map<std::string, std::string>& heard;
};

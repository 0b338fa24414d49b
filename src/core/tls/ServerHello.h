#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

// What a ServerHello (or a HelloRetryRequest, which has its form) tells a reader of the traffic.
struct ServerHello {
    std::array<std::uint8_t, 32> random{};
    std::uint16_t version = 0;  // the supported_versions choice, else the legacy version
    std::uint16_t cipherSuite = 0;
    bool retryRequest = false;  // a HelloRetryRequest: another ClientHello follows
    std::string alpn;           // the protocol chosen here (TLS 1.2); empty when none

    // Parses a ServerHello message body (after its 4-byte header); nullopt when malformed.
    static std::optional<ServerHello> parse(std::span<const std::uint8_t> body);
};

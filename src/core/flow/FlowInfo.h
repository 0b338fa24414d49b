#pragma once

#include <array>
#include <cstdint>

// Who talks on a followed connection. An IPv4 address fills the first 4 bytes, the rest are zero.
struct FlowInfo {
    bool ipv6 = false;
    std::array<std::uint8_t, 16> clientAddr{};
    std::array<std::uint8_t, 16> serverAddr{};
    std::uint16_t clientPort = 0;
    std::uint16_t serverPort = 0;
};

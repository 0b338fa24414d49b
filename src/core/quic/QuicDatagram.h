#pragma once

#include <array>
#include <cstdint>
#include <span>

// One UDP datagram as the QUIC table takes it. An IPv4 address fills the first 4 bytes of its
// array, the rest zero.
struct QuicDatagram {
    bool ipv6 = false;
    std::array<std::uint8_t, 16> sourceAddr{};
    std::array<std::uint8_t, 16> destinationAddr{};
    std::uint16_t sourcePort = 0;
    std::uint16_t destinationPort = 0;
    std::span<const std::uint8_t> payload;  // the UDP payload
    std::uint64_t micros = 0;               // monotonic, from the capture
};

#pragma once

#include <cstdint>

// Where an IPv4 or IPv6 datagram's transport header of one protocol starts (past IPv6 extension
// headers), where the captured datagram ends and how many of its bytes the capture cut off.
struct TransportLocation {
    static constexpr std::uint8_t kTcp = 6;
    static constexpr std::uint8_t kUdp = 17;

    std::uint32_t start = 0;  // 0: no header of that protocol
    std::uint32_t end = 0;
    std::uint32_t cut = 0;

    // The end the IP header gives when it lies within what was captured; a larger one is a
    // truncated capture (the rest cut), an impossible one leaves the captured length.
    static TransportLocation of(const std::uint8_t* datagram, std::uint32_t length,
                                std::uint8_t protocol);
};

#pragma once

#include <cstdint>
#include <optional>

// The UDP header fields and payload of a captured IPv4 or IPv6 datagram, viewed where they are.
struct UdpDatagramView {
    bool ipv6 = false;
    const std::uint8_t* srcAddr = nullptr;  // 4 or 16 bytes
    const std::uint8_t* dstAddr = nullptr;
    std::uint16_t srcPort = 0;
    std::uint16_t dstPort = 0;
    const std::uint8_t* payload = nullptr;
    std::uint32_t payloadLength = 0;
    bool truncated = false;  // the capture cut part of the payload off

    // The datagram's UDP view; nullopt for another protocol, a fragment other than the first, or
    // headers cut short. The payload ends where the UDP length says, or where the capture ends.
    static std::optional<UdpDatagramView> parse(const std::uint8_t* datagram, std::uint32_t length);
};

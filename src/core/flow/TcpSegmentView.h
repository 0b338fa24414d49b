#pragma once

#include <cstdint>
#include <optional>

// One TCP segment located in an IPv4 or IPv6 datagram, behind IPv4 options or IPv6 extension
// headers. Its pointers view the datagram, which must outlive it.
struct TcpSegmentView {
    static constexpr std::uint8_t kFin = 0x01;
    static constexpr std::uint8_t kSyn = 0x02;
    static constexpr std::uint8_t kRst = 0x04;
    static constexpr std::uint8_t kAck = 0x10;

    bool ipv6 = false;
    const std::uint8_t* srcAddr = nullptr;  // 4 or 16 bytes
    const std::uint8_t* dstAddr = nullptr;
    std::uint16_t srcPort = 0;
    std::uint16_t dstPort = 0;
    std::uint32_t seq = 0;
    std::uint32_t ack = 0;
    std::uint8_t flags = 0;
    const std::uint8_t* payload = nullptr;
    std::uint32_t payloadLength = 0;
    // Payload bytes the IP header declares beyond what was captured: the capture cut them off.
    std::uint32_t cutLength = 0;

    // The segment of `datagram`; nullopt for another protocol, a fragment other than the first,
    // or headers cut short. The payload ends where the IP header says the datagram ends (link
    // padding is not payload) or where the capture ends, whichever comes first.
    static std::optional<TcpSegmentView> parse(const std::uint8_t* datagram, std::uint32_t length);

    bool has(std::uint8_t flag) const { return (flags & flag) != 0; }
    bool truncated() const { return cutLength != 0; }
};

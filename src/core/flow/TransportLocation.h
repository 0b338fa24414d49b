#pragma once

#include <cstdint>

#include "core/capture/NetworkBytes.h"

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
    // Inline: it runs for every captured datagram.
    static TransportLocation of(const std::uint8_t* datagram, std::uint32_t length,
                                std::uint8_t protocol);
};

namespace transport_location {

constexpr std::uint32_t kIpv4MinHeader = 20;
constexpr std::uint32_t kIpv6Header = 40;

constexpr std::uint8_t kHopByHop = 0;
constexpr std::uint8_t kRouting = 43;
constexpr std::uint8_t kFragment = 44;
constexpr std::uint8_t kDestinationOptions = 60;

// The end the header gives when it lies within what was captured. A larger one is a truncated
// capture: the captured length, and the rest cut. An impossible one (offloaded segments captured
// before the length was set) leaves the captured length, nothing cut.
inline TransportLocation declaredEnd(std::uint32_t declared, std::uint32_t minimum,
                                     std::uint32_t captured) {
    if (declared < minimum) {
        return {0, captured, 0};
    }
    return declared <= captured ? TransportLocation{0, declared, 0}
                                : TransportLocation{0, captured, declared - captured};
}

inline TransportLocation locateIpv4(const std::uint8_t* d, std::uint32_t length,
                                    std::uint8_t protocol) {
    if (length < kIpv4MinHeader || d[9] != protocol) {
        return {};
    }
    const std::uint32_t headerLength = (d[0] & 0x0Fu) * 4;
    if (headerLength < kIpv4MinHeader || (readBe16(d + 6) & 0x1FFF) != 0) {
        return {};  // a bad header, or a later fragment without the transport header
    }
    TransportLocation located = declaredEnd(readBe16(d + 2), headerLength, length);
    located.start = headerLength;
    return located;
}

// Walks hop-by-hop, routing, destination-options and fragment headers to the transport header.
// Every step moves on by at least 8 bytes, so the walk ends within the datagram.
inline TransportLocation locateIpv6(const std::uint8_t* d, std::uint32_t length,
                                    std::uint8_t protocol) {
    if (length < kIpv6Header) {
        return {};
    }
    const std::uint32_t payloadLength = readBe16(d + 4);
    // A payload length of 0 (a jumbogram) leaves what was captured.
    TransportLocation located = payloadLength == 0
                                    ? TransportLocation{0, length, 0}
                                    : declaredEnd(kIpv6Header + payloadLength, kIpv6Header, length);
    const std::uint32_t end = located.end;
    std::uint8_t next = d[6];
    std::uint32_t at = kIpv6Header;
    while (next != protocol) {
        if (next == kFragment) {
            if (end < at + 8 || (readBe16(d + at + 2) & 0xFFF8) != 0) {
                return {};
            }
            next = d[at];
            at += 8;
        } else if (next == kHopByHop || next == kRouting || next == kDestinationOptions) {
            if (end < at + 2) {
                return {};
            }
            next = d[at];
            at += (d[at + 1] + 1u) * 8;
        } else {
            return {};
        }
    }
    located.start = at;
    return located;
}

}  // namespace transport_location

inline TransportLocation TransportLocation::of(const std::uint8_t* datagram, std::uint32_t length,
                                               std::uint8_t protocol) {
    if (length == 0) {
        return {};
    }
    const std::uint8_t version = datagram[0] >> 4;
    if (version == 4) {
        return transport_location::locateIpv4(datagram, length, protocol);
    }
    return version == 6 ? transport_location::locateIpv6(datagram, length, protocol)
                        : TransportLocation{};
}

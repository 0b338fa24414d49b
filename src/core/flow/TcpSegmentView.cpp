#include "core/flow/TcpSegmentView.h"

#include "core/capture/NetworkBytes.h"

namespace {

constexpr std::uint32_t kIpv4MinHeader = 20;
constexpr std::uint32_t kIpv6Header = 40;
constexpr std::uint32_t kTcpMinHeader = 20;
constexpr std::uint8_t kProtocolTcp = 6;

constexpr std::uint8_t kHopByHop = 0;
constexpr std::uint8_t kRouting = 43;
constexpr std::uint8_t kFragment = 44;
constexpr std::uint8_t kDestinationOptions = 60;

// Where the datagram's TCP header starts, where the captured datagram ends and how many of its
// bytes the capture cut off; tcp 0 for none.
struct Located {
    std::uint32_t tcp = 0;
    std::uint32_t end = 0;
    std::uint32_t cut = 0;
};

// The end the header gives when it lies within what was captured. A larger one is a truncated
// capture: the captured length, and the rest cut. An impossible one (offloaded segments captured
// before the length was set) leaves the captured length, nothing cut.
Located declaredEnd(std::uint32_t declared, std::uint32_t minimum, std::uint32_t captured) {
    if (declared < minimum) {
        return {0, captured, 0};
    }
    return declared <= captured ? Located{0, declared, 0}
                                : Located{0, captured, declared - captured};
}

Located locateIpv4(const std::uint8_t* d, std::uint32_t length) {
    if (length < kIpv4MinHeader || d[9] != kProtocolTcp) {
        return {};
    }
    const std::uint32_t headerLength = (d[0] & 0x0Fu) * 4;
    if (headerLength < kIpv4MinHeader || (readBe16(d + 6) & 0x1FFF) != 0) {
        return {};  // a bad header, or a later fragment without a TCP header
    }
    Located located = declaredEnd(readBe16(d + 2), headerLength, length);
    located.tcp = headerLength;
    return located;
}

// Walks hop-by-hop, routing, destination-options and fragment headers to the TCP header. Every
// step moves on by at least 8 bytes, so the walk ends within the datagram.
Located locateIpv6(const std::uint8_t* d, std::uint32_t length) {
    if (length < kIpv6Header) {
        return {};
    }
    const std::uint32_t payloadLength = readBe16(d + 4);
    // A payload length of 0 (a jumbogram) leaves what was captured.
    Located located = payloadLength == 0
                          ? Located{0, length, 0}
                          : declaredEnd(kIpv6Header + payloadLength, kIpv6Header, length);
    const std::uint32_t end = located.end;
    std::uint8_t next = d[6];
    std::uint32_t at = kIpv6Header;
    while (next != kProtocolTcp) {
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
    located.tcp = at;
    return located;
}

}  // namespace

std::optional<TcpSegmentView> TcpSegmentView::parse(const std::uint8_t* datagram,
                                                    std::uint32_t length) {
    if (length == 0) {
        return std::nullopt;
    }
    const std::uint8_t version = datagram[0] >> 4;
    if (version != 4 && version != 6) {
        return std::nullopt;
    }
    const bool ipv6 = version == 6;
    const Located located = ipv6 ? locateIpv6(datagram, length) : locateIpv4(datagram, length);
    const std::uint32_t tcp = located.tcp;
    if (tcp == 0 || located.end < kTcpMinHeader || tcp > located.end - kTcpMinHeader) {
        return std::nullopt;
    }
    const std::uint8_t* t = datagram + tcp;
    const std::uint32_t tcpLength = (t[12] >> 4) * 4u;
    if (tcpLength < kTcpMinHeader || tcpLength > located.end - tcp) {
        return std::nullopt;
    }
    TcpSegmentView view;
    view.ipv6 = ipv6;
    view.srcAddr = datagram + (ipv6 ? 8 : 12);
    view.dstAddr = datagram + (ipv6 ? 24 : 16);
    view.srcPort = readBe16(t);
    view.dstPort = readBe16(t + 2);
    view.seq = readBe32(t + 4);
    view.ack = readBe32(t + 8);
    view.flags = t[13];
    view.payload = t + tcpLength;
    view.payloadLength = located.end - tcp - tcpLength;
    view.cutLength = located.cut;
    return view;
}

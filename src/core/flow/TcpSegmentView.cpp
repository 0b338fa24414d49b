#include "core/flow/TcpSegmentView.h"

#include "core/capture/NetworkBytes.h"
#include "core/flow/TransportLocation.h"

namespace {

constexpr std::uint32_t kTcpMinHeader = 20;

}  // namespace

std::optional<TcpSegmentView> TcpSegmentView::parse(const std::uint8_t* datagram,
                                                    std::uint32_t length) {
    const TransportLocation located =
        TransportLocation::of(datagram, length, TransportLocation::kTcp);
    const std::uint32_t tcp = located.start;
    const bool ipv6 = tcp != 0 && (datagram[0] >> 4) == 6;
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

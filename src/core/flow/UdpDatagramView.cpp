#include "core/flow/UdpDatagramView.h"

#include <algorithm>

#include "core/capture/NetworkBytes.h"
#include "core/flow/TransportLocation.h"

namespace {

constexpr std::uint32_t kUdpHeader = 8;

}  // namespace

std::optional<UdpDatagramView> UdpDatagramView::parse(const std::uint8_t* datagram,
                                                      std::uint32_t length) {
    const TransportLocation located =
        TransportLocation::of(datagram, length, TransportLocation::kUdp);
    const std::uint32_t udp = located.start;
    if (udp == 0 || located.end < kUdpHeader || udp > located.end - kUdpHeader) {
        return std::nullopt;
    }
    const std::uint8_t* u = datagram + udp;
    const std::uint32_t declared = readBe16(u + 4);
    if (declared < kUdpHeader) {
        return std::nullopt;
    }
    UdpDatagramView view;
    view.ipv6 = (datagram[0] >> 4) == 6;
    view.srcAddr = datagram + (view.ipv6 ? 8 : 12);
    view.dstAddr = datagram + (view.ipv6 ? 24 : 16);
    view.srcPort = readBe16(u);
    view.dstPort = readBe16(u + 2);
    view.payload = u + kUdpHeader;
    const std::uint32_t captured = located.end - udp - kUdpHeader;
    view.payloadLength = std::min(captured, declared - kUdpHeader);
    view.truncated = located.cut != 0 || captured < declared - kUdpHeader;
    return view;
}

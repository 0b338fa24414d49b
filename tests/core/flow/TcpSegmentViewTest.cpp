#include "core/flow/TcpSegmentView.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "support/TestPackets.h"

namespace {

using test_packets::Extension;
using test_packets::Ipv6;
using test_packets::Tcp;

Tcp tcp(std::uint8_t protocol, std::string_view options, std::string_view ipOptions) {
    Tcp t;
    t.protocol = protocol;
    t.options = options;
    t.ipOptions = ipOptions;
    return t;
}

std::vector<std::uint8_t> withByte(std::vector<std::uint8_t> d, std::size_t at, std::uint8_t v) {
    d[at] = v;
    return d;
}

std::vector<std::uint8_t> resized(std::vector<std::uint8_t> d, std::size_t size) {
    d.resize(size);
    return d;
}

std::vector<std::uint8_t> ipv6With(std::vector<Extension> extensions) {
    Ipv6 ip;
    ip.extensions = std::move(extensions);
    return test_packets::datagram6("abc", {}, ip);
}

struct Case {
    const char* name;
    std::vector<std::uint8_t> datagram;
    std::optional<std::string> payload;  // nullopt: no segment found
    std::uint32_t cut = 0;               // payload bytes the capture cut off
};

std::vector<Case> cases() {
    const auto v4 = test_packets::datagram("abc");
    const auto v6 = test_packets::datagram6("abc");
    return {
        {"Ipv4", v4, "abc"},
        {"Ipv4Options", test_packets::datagram("abc", tcp(6, {}, "\1\1\1\1\1\1\1\1")), "abc"},
        {"TcpOptions", test_packets::datagram("abc", tcp(6, "\1\1\1\1", {})), "abc"},
        {"LinkPaddingIsNoPayload", resized(v4, v4.size() + 6), "abc"},
        {"TruncatedCapture", resized(v4, v4.size() - 1), "ab", 1},
        {"OffloadedLengthUnset", withByte(withByte(v4, 2, 0), 3, 0), "abc"},
        {"FirstFragment", withByte(v4, 6, 0x20), "abc"},
        {"LaterFragment", withByte(v4, 7, 0x01), std::nullopt},
        {"NotTcp", test_packets::datagram("abc", tcp(17, {}, {})), std::nullopt},
        {"Ipv4HeaderTooShort", withByte(v4, 0, 0x44), std::nullopt},
        {"Ipv4HeaderBeyondEnd", withByte(v4, 0, 0x4F), std::nullopt},
        {"CutInTcpHeader", resized(v4, 39), std::nullopt},
        {"TcpHeaderTooShort", withByte(v4, 32, 0x40), std::nullopt},
        {"TcpHeaderBeyondEnd", withByte(v4, 32, 0xF0), std::nullopt},
        {"OtherVersion", withByte(v4, 0, 0x55), std::nullopt},
        {"Empty", {}, std::nullopt},
        {"Ipv6", v6, "abc"},
        {"Ipv6Extensions", ipv6With({{0, 8}, {43, 16}, {60, 8}}), "abc"},
        {"Ipv6FirstFragment", ipv6With({{44, 8, 0x0001}}), "abc"},
        {"Ipv6LaterFragment", ipv6With({{44, 8, 0x0008}}), std::nullopt},
        {"Ipv6NoNextHeader", withByte(v6, 6, 59), std::nullopt},
        {"Ipv6ChainCut", resized(ipv6With({{0, 16}}), 50), std::nullopt},
        {"Ipv6PaddingIsNoPayload", resized(v6, v6.size() + 4), "abc"},
        {"Ipv6TruncatedCapture", resized(v6, v6.size() - 2), "a", 2},
        {"Ipv6Jumbogram", resized(withByte(withByte(v6, 4, 0), 5, 0), v6.size() - 2), "a"},
    };
}

TEST(TcpSegmentViewTest, FindsTheSegmentOrNone) {
    for (const Case& c : cases()) {
        SCOPED_TRACE(c.name);
        // Exactly as long as the datagram, so that a read past it trips the sanitizer.
        auto bytes = std::make_unique<std::uint8_t[]>(c.datagram.size() + 1);
        std::copy(c.datagram.begin(), c.datagram.end(), bytes.get());
        const auto length = static_cast<std::uint32_t>(c.datagram.size());
        const std::optional<TcpSegmentView> view = TcpSegmentView::parse(bytes.get(), length);
        ASSERT_EQ(view.has_value(), c.payload.has_value());
        if (!view) {
            continue;
        }
        EXPECT_EQ(std::string(view->payload, view->payload + view->payloadLength), *c.payload);
        EXPECT_EQ(view->cutLength, c.cut);
        EXPECT_EQ(view->srcPort, 40000);
        EXPECT_EQ(view->dstPort, 80);
        EXPECT_EQ(view->seq, 0x01020304u);
        EXPECT_EQ(view->ack, 0x05060708u);
        EXPECT_EQ(view->flags, 0x18);
        EXPECT_EQ(view->srcAddr[view->ipv6 ? 15 : 3], 1);
        EXPECT_EQ(view->dstAddr[view->ipv6 ? 15 : 3], 2);
    }
}

}  // namespace

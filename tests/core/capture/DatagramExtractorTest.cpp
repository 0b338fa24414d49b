#include "core/capture/DatagramExtractor.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

std::vector<std::uint8_t> ipv4Datagram(std::uint16_t totalLength, std::size_t bytes) {
    std::vector<std::uint8_t> d(bytes, 0xAB);
    d[0] = 0x45;
    d[2] = static_cast<std::uint8_t>(totalLength >> 8);
    d[3] = static_cast<std::uint8_t>(totalLength);
    return d;
}

std::vector<std::uint8_t> concat(std::vector<std::uint8_t> head,
                                 const std::vector<std::uint8_t>& tail) {
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

std::vector<std::uint8_t> ethernet(std::vector<std::uint16_t> etherTypes) {
    std::vector<std::uint8_t> frame(12, 0x11);
    for (std::size_t i = 0; i < etherTypes.size(); ++i) {
        frame.push_back(static_cast<std::uint8_t>(etherTypes[i] >> 8));
        frame.push_back(static_cast<std::uint8_t>(etherTypes[i]));
        if (i + 1 < etherTypes.size()) {  // the tag's TCI
            frame.push_back(0x00);
            frame.push_back(0x05);
        }
    }
    return frame;
}

std::vector<std::uint8_t> ipv6Datagram(std::uint16_t payloadLength, std::size_t bytes) {
    std::vector<std::uint8_t> d(bytes, 0xCD);
    d[0] = 0x60;
    d[4] = static_cast<std::uint8_t>(payloadLength >> 8);
    d[5] = static_cast<std::uint8_t>(payloadLength);
    return d;
}

bool extract(int linkType, const std::vector<std::uint8_t>& frame, CapturedPacket& out) {
    return DatagramExtractor::extract(linkType, frame.data(),
                                      static_cast<std::uint32_t>(frame.size()), out);
}

}  // namespace

TEST(DatagramExtractor, FindsTheDatagramBehindEveryLinkHeader) {
    auto datagram = ipv4Datagram(60, 60);
    std::vector<std::uint8_t> sll(16, 0);
    sll[14] = 0x08;
    std::vector<std::uint8_t> sll2(20, 0);
    sll2[0] = 0x08;
    struct Case {
        const char* name;
        int linkType;
        std::vector<std::uint8_t> header;
    } cases[] = {
        {"ethernet", DatagramExtractor::kEthernet, ethernet({0x0800})},
        {"802.1Q", DatagramExtractor::kEthernet, ethernet({0x8100, 0x0800})},
        {"802.1ad+Q", DatagramExtractor::kEthernet, ethernet({0x88A8, 0x8100, 0x0800})},
        {"sll", DatagramExtractor::kLinuxSll, sll},
        {"sll2", DatagramExtractor::kLinuxSll2, sll2},
        {"raw", DatagramExtractor::kRaw, {}},
        {"raw file", DatagramExtractor::kRawLinktype, {}},
        {"null", DatagramExtractor::kNull, {2, 0, 0, 0}},
        {"loop", DatagramExtractor::kLoop, {0, 0, 0, 2}},
    };
    for (const Case& c : cases) {
        CapturedPacket packet;
        ASSERT_TRUE(extract(c.linkType, concat(c.header, datagram), packet)) << c.name;
        EXPECT_EQ(packet.length, 60u) << c.name;
        EXPECT_EQ(packet.data[0], 0x45) << c.name;
        EXPECT_EQ(packet.data[59], 0xAB) << c.name;
        EXPECT_EQ(packet.data[60], 0) << c.name;
    }
}

TEST(DatagramExtractor, FindsIpv6BehindEveryLinkHeader) {
    auto datagram = ipv6Datagram(40, 96);  // 16 bytes of link padding after it
    std::vector<std::uint8_t> sll(16, 0);
    sll[14] = 0x86;
    sll[15] = 0xDD;
    std::vector<std::uint8_t> sll2(20, 0);
    sll2[0] = 0x86;
    sll2[1] = 0xDD;
    struct Case {
        const char* name;
        int linkType;
        std::vector<std::uint8_t> header;
    } cases[] = {
        {"ethernet", DatagramExtractor::kEthernet, ethernet({0x86DD})},
        {"802.1ad+Q", DatagramExtractor::kEthernet, ethernet({0x88A8, 0x8100, 0x86DD})},
        {"sll", DatagramExtractor::kLinuxSll, sll},
        {"sll2", DatagramExtractor::kLinuxSll2, sll2},
        {"raw", DatagramExtractor::kRaw, {}},
        {"ipv6", DatagramExtractor::kIpv6, {}},
        {"null linux", DatagramExtractor::kNull, {10, 0, 0, 0}},
        {"null freebsd", DatagramExtractor::kNull, {28, 0, 0, 0}},
        {"null macos", DatagramExtractor::kNull, {30, 0, 0, 0}},
        {"loop openbsd", DatagramExtractor::kLoop, {0, 0, 0, 24}},
    };
    for (const Case& c : cases) {
        CapturedPacket packet;
        ASSERT_TRUE(extract(c.linkType, concat(c.header, datagram), packet)) << c.name;
        EXPECT_EQ(packet.length, 80u) << c.name;
        EXPECT_EQ(packet.data[0], 0x60) << c.name;
        EXPECT_EQ(packet.data[79], 0xCD) << c.name;
        EXPECT_EQ(packet.data[80], 0) << c.name;
    }
    CapturedPacket packet;
    // A payload length of 0 (jumbogram) or beyond the capture: what was captured.
    ASSERT_TRUE(extract(DatagramExtractor::kRaw, ipv6Datagram(0, 100), packet));
    EXPECT_EQ(packet.length, 100u);
    ASSERT_TRUE(extract(DatagramExtractor::kRaw, ipv6Datagram(1000, 100), packet));
    EXPECT_EQ(packet.length, 100u);
}

TEST(DatagramExtractor, SkipsFramesWithoutIp) {
    CapturedPacket packet;
    EXPECT_FALSE(extract(DatagramExtractor::kEthernet,
                         concat(ethernet({0x86DD}), ipv4Datagram(60, 60)), packet));
    EXPECT_FALSE(
        extract(DatagramExtractor::kEthernet, ethernet({0x8100}), packet));  // tag, nothing after
    EXPECT_FALSE(extract(DatagramExtractor::kEthernet, {0x00, 0x01}, packet));
    EXPECT_FALSE(extract(DatagramExtractor::kRaw, {0x50, 0, 0, 0}, packet));  // no IP version
    EXPECT_FALSE(extract(DatagramExtractor::kIpv6, ipv4Datagram(60, 60), packet));
    EXPECT_FALSE(extract(DatagramExtractor::kNull, {24, 0, 0, 0, 0x45}, packet));
    EXPECT_FALSE(extract(147, ipv4Datagram(60, 60), packet));
    EXPECT_EQ(packet.length, 0u);
}

TEST(DatagramExtractor, LengthFollowsTotalLengthAndCapacity) {
    CapturedPacket packet;
    // Ethernet padding after a 40-byte datagram is not handed over.
    ASSERT_TRUE(extract(DatagramExtractor::kRaw, ipv4Datagram(40, 46), packet));
    EXPECT_EQ(packet.length, 40u);
    EXPECT_EQ(packet.data[40], 0);
    // A total length larger than what was captured, or below 20: what was captured.
    ASSERT_TRUE(extract(DatagramExtractor::kRaw, ipv4Datagram(1500, 100), packet));
    EXPECT_EQ(packet.length, 100u);
    ASSERT_TRUE(extract(DatagramExtractor::kRaw, ipv4Datagram(3, 30), packet));
    EXPECT_EQ(packet.length, 30u);
    // Over 2048 bytes: cut.
    ASSERT_TRUE(extract(DatagramExtractor::kRaw, ipv4Datagram(4000, 4000), packet));
    EXPECT_EQ(packet.length, 2048u);
    // A shorter datagram after a long one leaves zeros behind it.
    ASSERT_TRUE(extract(DatagramExtractor::kRaw, ipv4Datagram(24, 24), packet));
    EXPECT_EQ(packet.length, 24u);
    for (std::uint32_t i = 24; i < CapturedPacket::kCapacity; ++i) {
        ASSERT_EQ(packet.data[i], 0) << i;
    }
}

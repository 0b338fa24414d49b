#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

#include "core/capture/CapturedPacket.h"

// Builds IPv4 datagrams and link-layer frames for tests.
namespace test_packets {

struct Tcp {
    std::uint32_t srcAddr = 0x0A000001;  // 10.0.0.1
    std::uint32_t dstAddr = 0x0A000002;  // 10.0.0.2
    std::uint16_t srcPort = 40000;
    std::uint16_t dstPort = 80;
    std::uint8_t protocol = 6;
    std::uint32_t seq = 0x01020304;
    std::uint32_t ack = 0x05060708;
    std::uint8_t tcpFlags = 0x18;
    std::string_view options;  // TCP option bytes (a multiple of 4)
};

inline void putBe16(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v >> 8);
    p[1] = static_cast<std::uint8_t>(v);
}

inline void putBe32(std::uint8_t* p, std::uint32_t v) {
    putBe16(p, v >> 16);
    putBe16(p + 2, v);
}

// An IPv4 datagram with a 20-byte header and a TCP header (20 bytes plus options).
inline std::vector<std::uint8_t> datagram(std::string_view payload, const Tcp& tcp = {}) {
    std::size_t tcpLength = 20 + tcp.options.size();
    std::vector<std::uint8_t> d(20 + tcpLength + payload.size(), 0);
    d[0] = 0x45;
    putBe16(&d[2], static_cast<std::uint32_t>(d.size()));
    putBe16(&d[4], 0x1234);
    putBe16(&d[6], 0x4000);
    d[8] = 64;
    d[9] = tcp.protocol;
    putBe16(&d[10], 0xBEEF);
    putBe32(&d[12], tcp.srcAddr);
    putBe32(&d[16], tcp.dstAddr);
    putBe16(&d[20], tcp.srcPort);
    putBe16(&d[22], tcp.dstPort);
    putBe32(&d[24], tcp.seq);
    putBe32(&d[28], tcp.ack);
    d[32] = static_cast<std::uint8_t>((tcpLength / 4) << 4);
    d[33] = tcp.tcpFlags;
    putBe16(&d[34], 0xFFFF);
    putBe16(&d[36], 0xCAFE);
    std::copy(tcp.options.begin(), tcp.options.end(), d.begin() + 40);
    std::copy(payload.begin(), payload.end(), d.begin() + 20 + static_cast<long>(tcpLength));
    return d;
}

inline CapturedPacket packet(const std::vector<std::uint8_t>& bytes) {
    CapturedPacket p;
    p.length =
        static_cast<std::uint32_t>(std::min<std::size_t>(bytes.size(), CapturedPacket::kCapacity));
    std::copy(bytes.begin(), bytes.begin() + p.length, p.data);
    return p;
}

inline std::vector<std::uint8_t> prepend(std::vector<std::uint8_t> head,
                                         const std::vector<std::uint8_t>& tail) {
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

inline std::vector<std::uint8_t> ethernetHeader(std::vector<std::uint16_t> tags = {}) {
    std::vector<std::uint8_t> h = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
    for (std::uint16_t tpid : tags) {
        h.push_back(static_cast<std::uint8_t>(tpid >> 8));
        h.push_back(static_cast<std::uint8_t>(tpid));
        h.push_back(0x00);
        h.push_back(0x07);
    }
    h.push_back(0x08);
    h.push_back(0x00);
    return h;
}

inline std::vector<std::uint8_t> linuxCookedHeader() {
    std::vector<std::uint8_t> h(16, 0);
    h[1] = 0;  // packet type: to us
    h[3] = 1;  // ARPHRD_ETHER
    h[5] = 6;
    h[14] = 0x08;
    return h;
}

}  // namespace test_packets

#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <span>
#include <string_view>
#include <vector>

#include "core/capture/CapturedPacket.h"

// Builds IPv4 and IPv6 datagrams and link-layer frames for tests.
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
    std::string_view options;    // TCP option bytes (a multiple of 4)
    std::string_view ipOptions;  // IPv4 option bytes (a multiple of 4)
};

inline void putBe16(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v >> 8);
    p[1] = static_cast<std::uint8_t>(v);
}

inline void putBe32(std::uint8_t* p, std::uint32_t v) {
    putBe16(p, v >> 16);
    putBe16(p + 2, v);
}

inline std::size_t segmentLength(std::string_view payload, const Tcp& tcp) {
    return 20 + tcp.options.size() + payload.size();
}

// A TCP header (20 bytes plus options) and the payload, written at `t`.
inline void writeSegment(std::uint8_t* t, std::string_view payload, const Tcp& tcp) {
    std::size_t tcpLength = 20 + tcp.options.size();
    putBe16(&t[0], tcp.srcPort);
    putBe16(&t[2], tcp.dstPort);
    putBe32(&t[4], tcp.seq);
    putBe32(&t[8], tcp.ack);
    t[12] = static_cast<std::uint8_t>((tcpLength / 4) << 4);
    t[13] = tcp.tcpFlags;
    putBe16(&t[14], 0xFFFF);
    putBe16(&t[16], 0xCAFE);
    std::copy(tcp.options.begin(), tcp.options.end(), t + 20);
    std::copy(payload.begin(), payload.end(), t + tcpLength);
}

// An IPv4 datagram: a 20-byte header plus options, then a TCP header (20 bytes plus options).
inline std::vector<std::uint8_t> datagram(std::string_view payload, const Tcp& tcp = {}) {
    std::size_t ipLength = 20 + tcp.ipOptions.size();
    std::vector<std::uint8_t> d(ipLength + segmentLength(payload, tcp), 0);
    d[0] = static_cast<std::uint8_t>(0x40 | (ipLength / 4));
    putBe16(&d[2], static_cast<std::uint32_t>(d.size()));
    putBe16(&d[4], 0x1234);
    putBe16(&d[6], 0x4000);
    d[8] = 64;
    d[9] = tcp.protocol;
    putBe16(&d[10], 0xBEEF);
    putBe32(&d[12], tcp.srcAddr);
    putBe32(&d[16], tcp.dstAddr);
    std::copy(tcp.ipOptions.begin(), tcp.ipOptions.end(), d.begin() + 20);
    writeSegment(d.data() + ipLength, payload, tcp);
    return d;
}

// An IPv4 datagram carrying UDP, with the addresses and ports of `to`.
inline std::vector<std::uint8_t> udpDatagram(std::span<const std::uint8_t> payload,
                                             const Tcp& to = {}) {
    Tcp ip = to;
    ip.protocol = 17;
    std::vector<std::uint8_t> d = datagram("", ip);
    d.resize(20 + 8);
    putBe16(&d[2], static_cast<std::uint32_t>(d.size() + payload.size()));
    putBe16(&d[24], static_cast<std::uint32_t>(8 + payload.size()));
    putBe16(&d[26], 0);
    d.insert(d.end(), payload.begin(), payload.end());
    return d;
}

// One IPv6 extension header: hop-by-hop (0), routing (43) or destination options (60) of
// `length` bytes (a multiple of 8), or a fragment header (44) with `fragment` as its offset
// and flags field.
struct Extension {
    std::uint8_t type;
    std::size_t length = 8;
    std::uint16_t fragment = 0;
};

struct Ipv6 {
    std::uint8_t srcAddr[16] = {0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    std::uint8_t dstAddr[16] = {0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2};
    std::vector<Extension> extensions;
    std::uint8_t trafficClass = 0;
    std::uint8_t hopLimit = 64;
};

// An IPv6 datagram: the fixed header, the extension headers in order, then the TCP segment.
inline std::vector<std::uint8_t> datagram6(std::string_view payload, const Tcp& tcp = {},
                                           const Ipv6& ip = {}) {
    std::size_t headers = 40;
    for (const Extension& e : ip.extensions) {
        headers += e.type == 44 ? 8 : e.length;
    }
    std::vector<std::uint8_t> d(headers + segmentLength(payload, tcp), 0);
    d[0] = static_cast<std::uint8_t>(0x60 | (ip.trafficClass >> 4));
    d[1] = static_cast<std::uint8_t>(ip.trafficClass << 4);
    putBe16(&d[4], static_cast<std::uint32_t>(d.size() - 40));
    d[7] = ip.hopLimit;
    std::copy(std::begin(ip.srcAddr), std::end(ip.srcAddr), d.begin() + 8);
    std::copy(std::begin(ip.dstAddr), std::end(ip.dstAddr), d.begin() + 24);
    std::size_t nextField = 6;
    std::size_t at = 40;
    for (const Extension& e : ip.extensions) {
        d[nextField] = e.type;
        nextField = at;
        if (e.type == 44) {
            putBe16(&d[at + 2], e.fragment);
            putBe32(&d[at + 4], 0xABCD);
            at += 8;
        } else {
            d[at + 1] = static_cast<std::uint8_t>(e.length / 8 - 1);
            at += e.length;
        }
    }
    d[nextField] = tcp.protocol;
    writeSegment(d.data() + headers, payload, tcp);
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

inline std::vector<std::uint8_t> ethernetHeader(std::vector<std::uint16_t> tags = {},
                                                std::uint16_t etherType = 0x0800) {
    std::vector<std::uint8_t> h = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
    for (std::uint16_t tpid : tags) {
        h.push_back(static_cast<std::uint8_t>(tpid >> 8));
        h.push_back(static_cast<std::uint8_t>(tpid));
        h.push_back(0x00);
        h.push_back(0x07);
    }
    h.push_back(static_cast<std::uint8_t>(etherType >> 8));
    h.push_back(static_cast<std::uint8_t>(etherType));
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

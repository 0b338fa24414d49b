#pragma once

#include <cstdint>

#include "core/capture/CapturedPacket.h"

// Finds the IPv4 or IPv6 datagram inside one captured link-layer frame and hands it over the
// way a raw IP socket would: from the IP header on, at most 2048 bytes, zero after its end.
// Shared by live capture and the capture-file reader so both deliver the same bytes.
class DatagramExtractor {
  public:
    // libpcap link types understood here (DLT_* values as pcap_datalink() reports them).
    static constexpr int kNull = 0;           // BSD loopback, family in host byte order
    static constexpr int kEthernet = 1;       // with or without 802.1Q / 802.1ad tags
    static constexpr int kRaw = 12;           // raw IP (Linux numbering)
    static constexpr int kRawAlt = 14;        // raw IP (BSD numbering)
    static constexpr int kRawLinktype = 101;  // raw IP as stored in files
    static constexpr int kLoop = 108;         // OpenBSD loopback, family in network byte order
    static constexpr int kLinuxSll = 113;
    static constexpr int kIpv4 = 228;
    static constexpr int kIpv6 = 229;
    static constexpr int kLinuxSll2 = 276;

    static bool supportsLinkType(int linkType);

    // Fills `out` from one frame of `capturedLength` bytes. Returns false, leaving `out`
    // unchanged, when the frame carries no IP datagram. Bytes of `out` beyond its previous
    // length must be zero on entry (true for a packet that started zeroed and is only ever
    // filled here); no allocation.
    static bool extract(int linkType, const std::uint8_t* frame, std::uint32_t capturedLength,
                        CapturedPacket& out);
    // The same for a datagram already located: `length` as datagramLength() gave it.
    static void copyDatagram(const std::uint8_t* datagram, std::uint32_t length,
                             CapturedPacket& out);
    // The same, leaving the bytes beyond `length` as they were: the packet's earlier length
    // is not even read, which spares a wait for memory another core wrote last.
    static void copyDatagramOnly(const std::uint8_t* datagram, std::uint32_t length,
                                 CapturedPacket& out);

    // How many bytes of a datagram whose first `captured` bytes are at hand are handed over:
    // its total length (IPv4) or header plus payload length (IPv6) when that is plausible (so
    // link-layer padding is left out), otherwise what was captured. It may be more than a
    // CapturedPacket holds (a segment the sender's offload has not split yet): the copies into
    // one keep its capacity, while readers of whole datagrams (TLS) see all of it.
    static std::uint32_t datagramLength(const std::uint8_t* datagram, std::uint32_t captured);

    // Offset of the IPv4 or IPv6 header inside the frame, or -1 when there is none.
    static int datagramOffset(int linkType, const std::uint8_t* frame,
                              std::uint32_t capturedLength);
};

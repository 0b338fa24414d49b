#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "core/quic/QuicConnectionId.h"
#include "core/quic/QuicPacketType.h"
#include "core/quic/QuicVersion.h"

// The unprotected header of one QUIC packet at the start of a datagram's remaining bytes: what
// finds its connection and where its protected bytes lie. Nothing is trusted: every length is
// checked against the bytes there are. The fixed bit (0x40) is not looked at: peers that agree
// to it send it random (grease_quic_bit).
struct QuicPacketHeader {
    enum class Parse {
        Packet,              // a packet of a version read here
        VersionNegotiation,  // version 0: nothing follows that a reader needs
        UnknownVersion,      // a long header of another version: its length cannot be known
        Malformed,
    };

    QuicPacketType type = QuicPacketType::OneRtt;
    const QuicVersion* version = nullptr;  // null for a short header: the connection's
    QuicConnectionId dcid;
    QuicConnectionId scid;                // long headers only
    std::span<const std::uint8_t> token;  // Initial only
    std::size_t numberOffset = 0;         // where the protected packet number starts
    std::size_t length = 0;               // the whole packet, up to the next coalesced one

    bool isLong() const { return type != QuicPacketType::OneRtt; }

    // Reads the packet starting at bytes[0]. A short header names a connection ID whose length
    // only its receiver knows: `shortDcidLength`. A Retry takes the rest of the datagram.
    static Parse parse(std::span<const std::uint8_t> bytes, std::size_t shortDcidLength,
                       QuicPacketHeader& out);

    // Whether a first byte starts a long header.
    static bool isLongHeader(std::uint8_t firstByte) { return (firstByte & 0x80) != 0; }
};

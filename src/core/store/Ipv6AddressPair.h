#pragma once

#include <cstdint>
#include <cstring>

#include "core/detect/DetectedStream.h"
#include "core/detect/StreamFields.h"

// A segment's two IPv6 addresses, kept for the few rows that came over IPv6.
struct Ipv6AddressPair {
    std::uint8_t source[DetectedStream::kIpv6AddressSize];
    std::uint8_t destination[DetectedStream::kIpv6AddressSize];

    static Ipv6AddressPair of(const StreamFields& r) {
        Ipv6AddressPair pair;
        std::memcpy(pair.source, r.srcAddr6, sizeof pair.source);
        std::memcpy(pair.destination, r.dstAddr6, sizeof pair.destination);
        return pair;
    }
    void fill(DetectedStream& out) const {
        std::memcpy(out.srcAddr6, source, sizeof out.srcAddr6);
        std::memcpy(out.dstAddr6, destination, sizeof out.dstAddr6);
    }
};

#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "core/tls/ByteReader.h"

// QUIC's variable-length integer: the two high bits of the first byte give its width (1, 2, 4
// or 8 bytes), the rest is the value, big-endian.
struct QuicVarInt {
    static constexpr std::uint64_t kMax = (std::uint64_t{1} << 62) - 1;

    // Reads one; on failure the reader is left where it was.
    static bool read(ByteReader& reader, std::uint64_t& value) {
        ByteReader copy = reader;
        std::uint8_t first = 0;
        std::span<const std::uint8_t> rest;
        if (!copy.u8(first) || !copy.bytes((std::size_t{1} << (first >> 6)) - 1, rest)) {
            return false;
        }
        value = first & 0x3F;
        for (std::uint8_t byte : rest) {
            value = value << 8 | byte;
        }
        reader = copy;
        return true;
    }
};

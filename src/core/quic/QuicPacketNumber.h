#pragma once

#include <cstdint>

// Packet numbers travel truncated to 1-4 bytes; the full one is the value closest to the next
// expected number that ends in those bytes.
struct QuicPacketNumber {
    static constexpr std::uint64_t kMax = (std::uint64_t{1} << 62) - 1;

    // `largest`: the largest number opened so far in this space and direction, or -1 as none.
    static std::uint64_t decode(std::int64_t largest, std::uint64_t truncated, unsigned bits) {
        const std::uint64_t expected = static_cast<std::uint64_t>(largest + 1);
        const std::uint64_t window = std::uint64_t{1} << bits;
        const std::uint64_t halfWindow = window / 2;
        const std::uint64_t mask = window - 1;
        const std::uint64_t candidate = (expected & ~mask) | truncated;
        if (candidate + halfWindow <= expected && candidate < kMax + 1 - window) {
            return candidate + window;
        }
        if (candidate > expected + halfWindow && candidate >= window) {
            return candidate - window;
        }
        return candidate;
    }
};

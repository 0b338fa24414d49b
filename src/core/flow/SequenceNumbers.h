#pragma once

#include <cstdint>

// TCP sequence numbers wrap: `a` comes after `b` when it is less than half the space ahead.
inline bool sequenceAfter(std::uint32_t a, std::uint32_t b) {
    const std::uint32_t ahead = a - b;
    return ahead != 0 && ahead < 0x80000000u;
}

// How far `a` lies ahead of `b`; 0 when it does not come after it.
inline std::uint32_t sequenceAhead(std::uint32_t a, std::uint32_t b) {
    return sequenceAfter(a, b) ? a - b : 0;
}

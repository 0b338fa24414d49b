#pragma once

#include <cstddef>

// Bytes held out of order or waiting for keys, counted across every connection of a table so
// that all of them together stay under one bound.
struct QuicHeldBudget {
    // What one held piece costs besides its bytes (its node and vector): a flood of tiny pieces
    // must not slip past the bound.
    static constexpr std::size_t kPieceCharge = 64;

    std::size_t limit = 0;
    std::size_t used = 0;

    bool take(std::size_t bytes) {
        if (bytes > limit - used) {
            return false;
        }
        used += bytes;
        return true;
    }
    void give(std::size_t bytes) { used -= bytes; }
};

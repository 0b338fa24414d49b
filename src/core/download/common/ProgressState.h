#pragma once

#include <cstdint>

// Progress bookkeeping of one running transfer, owned by the worker thread's transfer loop.
// Byte counts are 64-bit so that streams beyond 4 GiB keep sensible percentages and sizes.
struct ProgressState {
    std::uint32_t startTick = 0;       // tick (ms) taken just before the first body read
    std::uint32_t lastSampleTick = 0;  // tick of the last rate sample
    std::uint64_t bytesAtLastSample = 0;
    std::int32_t lastPercent = 0;  // the percentage last written to the row
    bool lengthKnown = false;
    std::uint64_t total = 0;  // total length when known, else 0

    // The state at the start of a body: both ticks at `now`, nothing sampled yet.
    static ProgressState Begin(std::uint32_t now, bool lengthKnown, std::uint64_t total) {
        ProgressState state;
        state.startTick = now;
        state.lastSampleTick = now;
        state.lengthKnown = lengthKnown;
        state.total = lengthKnown ? total : 0;
        return state;
    }
};

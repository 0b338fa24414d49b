#pragma once

#include <cstdint>
#include <functional>

// Milliseconds of a monotonic clock, wrapping at 32 bits; only differences are meaningful.
// Injected wherever progress is timed so that tests can drive time.
using TickSource = std::function<std::uint32_t()>;

// The real clock: milliseconds of the monotonic system clock, truncated to 32 bits.
std::uint32_t SteadyTickCount();

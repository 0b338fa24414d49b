#pragma once

#include <cstdint>
#include <optional>

// The values of one SETTINGS frame that change how the other direction is read.
struct Http2Settings {
    std::optional<std::uint32_t> headerTableSize;
    std::optional<std::uint32_t> maxFrameSize;
};

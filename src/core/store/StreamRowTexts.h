#pragma once

#include <cstdint>

#include "core/detect/DetectedStream.h"

// A consistent copy of what one row shows: host and path as detected, and the four column
// texts and the download state as of the row's last refresh, and the stream's type name.
struct StreamRowTexts {
    char host[DetectedStream::kHostCapacity];
    char path[DetectedStream::kPathCapacity];
    char sizeText[DetectedStream::kColumnTextCapacity];
    char progressText[DetectedStream::kColumnTextCapacity];
    char timeText[DetectedStream::kColumnTextCapacity];
    char rateText[DetectedStream::kColumnTextCapacity];
    std::int32_t state;
    char typeName[DetectedStream::kTypeNameCapacity];
};

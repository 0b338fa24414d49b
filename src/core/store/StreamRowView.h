#pragma once

#include <cstdint>

#include "core/detect/DetectedStream.h"
#include "core/download/TransferProgress.h"

// A consistent copy of what one row shows: host and path as detected, its download's
// progress and state as of the row's last refresh, and the stream's type name.
struct StreamRowView {
    char host[DetectedStream::kHostCapacity];
    char path[DetectedStream::kPathCapacity];
    TransferProgress transfer;
    std::int32_t state;
    char typeName[DetectedStream::kTypeNameCapacity];
};

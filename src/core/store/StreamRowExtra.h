#pragma once

#include <cstdint>
#include <memory>

#include "core/detect/DetectedStream.h"
#include "core/download/TransferProgress.h"

// What only some rows have: the full record a download works on and what the row shows of it.
struct StreamRowExtra {
    std::shared_ptr<DetectedStream> record;
    // What the row shows of its download, as of its last refresh.
    TransferProgress transfer;
    std::int32_t state = 0;
};

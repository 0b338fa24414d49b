#pragma once

#include <cstdint>

#include "core/download/common/ProgressState.h"
#include "core/download/common/TickSource.h"

struct DetectedStream;

// Called on the worker thread after each block has been written, with the running total of
// bytes received. The percentage follows every block (0 % is never shown); rate, time left and
// size are sampled when more than 1000 ms have passed since the last sample. Writes the record's
// column texts and refreshes its row through record.ownerList (when set) only when something
// shown changed or a sample was taken. Returns true when the row was refreshed.
bool ReportProgress(std::uint64_t received, ProgressState& state, DetectedStream& record,
                    const TickSource& ticks);

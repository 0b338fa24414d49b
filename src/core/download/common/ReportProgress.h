#pragma once

#include <cstdint>

#include "core/download/common/ProgressState.h"
#include "core/download/common/TickSource.h"

struct TransferProgress;

// Called on the worker thread after each block has been written, with the running total of
// bytes received. The percentage follows every block (0 % is never shown); rate, time left and
// size are sampled when more than 1000 ms have passed since the last sample. Writes them into
// `progress`; returns true when something the row shows changed or a sample was taken, that
// is when the row is to be refreshed.
bool ReportProgress(std::uint64_t received, ProgressState& state, TransferProgress& progress,
                    const TickSource& ticks);

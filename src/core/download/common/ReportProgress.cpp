#include "core/download/common/ReportProgress.h"

#include <limits>

#include "core/download/TransferProgress.h"

namespace {

constexpr std::uint32_t kSampleIntervalMs = 1000;

std::int32_t PercentOf(std::uint64_t received, std::uint64_t total) {
    double percent = static_cast<double>(received) * 100.0 / static_cast<double>(total);
    // Only a server sending more than it announced gets here; keep the conversion defined.
    if (percent >= static_cast<double>(std::numeric_limits<std::int32_t>::max())) {
        return std::numeric_limits<std::int32_t>::max();
    }
    return static_cast<std::int32_t>(percent);
}

// Average time per byte since the start of the body, times the bytes still to come.
std::uint32_t SecondsLeft(std::uint32_t sinceStart, std::uint64_t received, std::uint64_t total) {
    if (received >= total) {
        return 0;
    }
    double seconds = static_cast<double>(sinceStart) / static_cast<double>(received) *
                     static_cast<double>(total - received) * 0.001;
    if (seconds >= static_cast<double>(std::numeric_limits<std::uint32_t>::max())) {
        return std::numeric_limits<std::uint32_t>::max();
    }
    return static_cast<std::uint32_t>(seconds);
}

}  // namespace

bool ReportProgress(std::uint64_t received, ProgressState& state, TransferProgress& progress,
                    const TickSource& ticks) {
    bool changed = false;
    progress.bytesDone = received;
    if (state.lengthKnown) {
        progress.total = state.total;
    }
    if (state.lengthKnown && state.total != 0) {
        std::int32_t percent = PercentOf(received, state.total);
        if (percent != state.lastPercent) {
            progress.stage = TransferProgress::Stage::kPercent;
            progress.percent = percent;
            state.lastPercent = percent;
            changed = true;
        }
    }

    std::uint32_t now = ticks();
    std::uint32_t elapsed = now - state.lastSampleTick;
    if (elapsed > kSampleIntervalMs) {
        std::uint64_t sampled =
            received >= state.bytesAtLastSample ? received - state.bytesAtLastSample : 0;
        progress.rate = static_cast<double>(sampled) / elapsed;
        progress.elapsedSeconds = (now - state.startTick) / 1000;
        state.lastSampleTick = now;
        state.bytesAtLastSample = received;
        if (state.lengthKnown && received != 0) {
            progress.secondsLeft = SecondsLeft(now - state.startTick, received, state.total);
            progress.size = state.total;
        }
        changed = true;
    }
    return changed;
}

#include "core/download/record/RecordProgress.h"

#include <algorithm>

#include "core/download/TransferProgress.h"
#include "core/download/common/TransferFormat.h"

namespace {

constexpr std::uint32_t kSampleIntervalMs = 1000;
// Time texts stop here, so that a hostile duration cannot overflow one.
constexpr double kLongestSeconds = 4.0e9;

std::uint32_t WholeSeconds(double seconds) {
    return static_cast<std::uint32_t>(std::clamp(seconds, 0.0, kLongestSeconds));
}

// Whether the progress column reads differently: its stage, or the number that stage shows.
bool ProgressShownDifferently(const TransferProgress& before, const TransferProgress& after) {
    if (before.stage != after.stage) {
        return true;
    }
    switch (after.stage) {
        case TransferProgress::Stage::kPercent:
            return before.percent != after.percent;
        case TransferProgress::Stage::kRecorded:
            return before.mediaSeconds != after.mediaSeconds;
        default:
            return false;
    }
}

}  // namespace

RecordProgress::RecordProgress(const TickSource& ticks, double durationSeconds)
    : ticks_(ticks), duration_(durationSeconds), startTick_(ticks()), lastSampleTick_(startTick_) {}

bool RecordProgress::Report(std::uint64_t bytesWritten, double recordedSeconds,
                            TransferProgress& progress) {
    const TransferProgress before = progress;
    const bool withEnd = duration_ > 0;
    progress.mediaSeconds = WholeSeconds(recordedSeconds);
    if (withEnd) {
        // The last packets may run a little past the announced duration: 100 % is the end.
        progress.stage = TransferProgress::Stage::kPercent;
        progress.percent =
            static_cast<std::int32_t>(std::clamp(recordedSeconds * 100.0 / duration_, 0.0, 99.0));
    } else {
        progress.stage = TransferProgress::Stage::kRecorded;
    }
    bool changed = ProgressShownDifferently(before, progress);
    if (bytesWritten > 0) {
        progress.size = bytesWritten;
        // The size column changes in steps of its text, not with every byte.
        std::string sizeText = FormatSize(bytesWritten);
        changed |= sizeText != shownSize_;
        shownSize_ = std::move(sizeText);
    }
    progress.bytesDone = bytesWritten;
    reported_ = true;
    lastBytes_ = bytesWritten;
    lastSeconds_ = recordedSeconds;
    std::uint32_t now = ticks_();
    std::uint32_t elapsed = now - lastSampleTick_;
    if (elapsed > kSampleIntervalMs) {
        // A live rate counts from the start: between segments nothing comes for seconds.
        const std::uint64_t from = withEnd ? bytesAtLastSample_ : 0;
        const std::uint32_t during = withEnd ? elapsed : now - startTick_;
        std::uint64_t sampled = bytesWritten >= from ? bytesWritten - from : 0;
        progress.rate = static_cast<double>(sampled) / during;
        progress.elapsedSeconds = (now - startTick_) / 1000;
        if (withEnd && recordedSeconds > 0) {
            double spent = (now - startTick_) * 0.001;
            double left = spent / recordedSeconds * std::max(duration_ - recordedSeconds, 0.0);
            progress.secondsLeft = WholeSeconds(left);
        }
        lastSampleTick_ = now;
        bytesAtLastSample_ = bytesWritten;
        changed = true;
    }
    return changed;
}

bool RecordProgress::Waiting(TransferProgress& progress) {
    return duration_ <= 0 && reported_ && Report(lastBytes_, lastSeconds_, progress);
}

#include "core/download/record/RecordProgress.h"

#include <algorithm>
#include <cstdio>

#include "core/detect/DetectedStream.h"
#include "core/download/http/RecordText.h"
#include "core/download/http/TransferFormat.h"
#include "core/store/StreamList.h"

namespace {

constexpr std::uint32_t kSampleIntervalMs = 1000;
// Time texts stop here, so that a hostile duration cannot overflow one.
constexpr double kLongestSeconds = 4.0e9;

std::uint32_t WholeSeconds(double seconds) {
    return static_cast<std::uint32_t>(std::clamp(seconds, 0.0, kLongestSeconds));
}

}  // namespace

RecordProgress::RecordProgress(const TickSource& ticks, double durationSeconds)
    : ticks_(ticks), duration_(durationSeconds), startTick_(ticks()), lastSampleTick_(startTick_) {}

bool RecordProgress::Report(std::uint64_t bytesWritten, double recordedSeconds,
                            DetectedStream& record) {
    bool changed = false;
    const bool withEnd = duration_ > 0;
    if (withEnd) {
        // The last packets may run a little past the announced duration: 100 % is the end.
        auto percent =
            static_cast<std::int32_t>(std::clamp(recordedSeconds * 100.0 / duration_, 0.0, 99.0));
        if (percent != lastPercent_) {
            char text[16];
            std::snprintf(text, sizeof text, "%d%%", percent);
            SetRecordText(record.progressText, text);
            lastPercent_ = percent;
            changed = true;
        }
    }
    // The first packet shows that the recording runs; later ones once a second.
    if (!withEnd && !started_) {
        SetRecordText(record.progressText, FormatTimeLeft(WholeSeconds(recordedSeconds)));
        changed = true;
    }
    started_ = true;
    std::uint32_t now = ticks_();
    std::uint32_t elapsed = now - lastSampleTick_;
    if (elapsed > kSampleIntervalMs) {
        std::uint64_t sampled =
            bytesWritten >= bytesAtLastSample_ ? bytesWritten - bytesAtLastSample_ : 0;
        SetRecordText(record.rateText, FormatRate(static_cast<double>(sampled) / elapsed));
        SetRecordText(record.sizeText, FormatSize(bytesWritten));
        if (withEnd && recordedSeconds > 0) {
            double spent = (now - startTick_) * 0.001;
            double left = spent / recordedSeconds * std::max(duration_ - recordedSeconds, 0.0);
            SetRecordText(record.timeText, FormatTimeLeft(WholeSeconds(left)));
        } else if (!withEnd) {
            SetRecordText(record.progressText, FormatTimeLeft(WholeSeconds(recordedSeconds)));
        }
        lastSampleTick_ = now;
        bytesAtLastSample_ = bytesWritten;
        changed = true;
    }
    if (changed && record.ownerList != nullptr) {
        record.ownerList->AddOrUpdateStream(&record, 1);
    }
    return changed;
}

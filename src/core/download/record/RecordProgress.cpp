#include "core/download/record/RecordProgress.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "core/detect/DetectedStream.h"
#include "core/download/common/RecordText.h"
#include "core/download/common/TransferFormat.h"
#include "core/store/StreamList.h"

namespace {

constexpr std::uint32_t kSampleIntervalMs = 1000;
// Time texts stop here, so that a hostile duration cannot overflow one.
constexpr double kLongestSeconds = 4.0e9;

std::uint32_t WholeSeconds(double seconds) {
    return static_cast<std::uint32_t>(std::clamp(seconds, 0.0, kLongestSeconds));
}

// Writes `text` into the field; true when that changed what the field holds.
template <std::size_t N>
bool UpdateText(char (&field)[N], std::string_view text) {
    if (text.size() < N && std::string_view(field, ::strnlen(field, N)) == text) {
        return false;
    }
    SetRecordText(field, text);
    return true;
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
        char text[16];
        std::snprintf(text, sizeof text, "%d%%", percent);
        changed |= UpdateText(record.progressText, text);
    } else {
        changed |= UpdateText(record.progressText, FormatTimeLeft(WholeSeconds(recordedSeconds)));
    }
    if (bytesWritten > 0) {
        changed |= UpdateText(record.sizeText, FormatSize(bytesWritten));
    }
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
        SetRecordText(record.rateText, FormatRate(static_cast<double>(sampled) / during));
        if (withEnd && recordedSeconds > 0) {
            double spent = (now - startTick_) * 0.001;
            double left = spent / recordedSeconds * std::max(duration_ - recordedSeconds, 0.0);
            SetRecordText(record.timeText, FormatTimeLeft(WholeSeconds(left)));
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

bool RecordProgress::Waiting(DetectedStream& record) {
    return duration_ <= 0 && reported_ && Report(lastBytes_, lastSeconds_, record);
}

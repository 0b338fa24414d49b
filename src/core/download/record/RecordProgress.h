#pragma once

#include <cstdint>
#include <string>

#include "core/download/common/TickSource.h"

struct TransferProgress;

// What the row shows while a stream is recorded. With an end (a playlist of known duration) as a
// file download: the percentage of the media duration recorded, the size written, the time
// left and the rate of the last second or so; live: the size, the recorded duration in the
// progress column ("2分 5秒") and the rate since the start, which a stream that comes in
// bursts (a live playlist's segments) keeps steady. Size, percentage and duration follow
// every report, so that a burst shows at once; time left and rate are sampled when more than
// a second has passed. Called on the worker thread; writes into `progress` and says whether a
// text the row shows changed, that is whether the row is to be refreshed.
class RecordProgress {
  public:
    // `durationSeconds` <= 0: live, or a duration that is not known.
    RecordProgress(const TickSource& ticks, double durationSeconds);

    // `recordedSeconds` is the media time in the file so far.
    bool Report(std::uint64_t bytesWritten, double recordedSeconds, TransferProgress& progress);
    // The recorder is at work though it wrote nothing new: a live recording's rate goes on.
    bool Waiting(TransferProgress& progress);

  private:
    const TickSource& ticks_;
    double duration_;
    std::uint32_t startTick_;
    std::uint32_t lastSampleTick_;
    std::uint64_t bytesAtLastSample_ = 0;
    bool reported_ = false;
    std::uint64_t lastBytes_ = 0;
    double lastSeconds_ = 0;
    std::string shownSize_;  // the size column's text as last reported
};

#pragma once

#include <cstdint>

#include "core/download/http/TickSource.h"

struct DetectedStream;

// The row's texts while a stream is recorded. With an end (a playlist of known duration) as a
// file download: the percentage of the media duration recorded, the size written, the time
// left and the rate; live: the size, the recorded duration in the progress column ("2分 5秒")
// and the rate. Called on the worker thread after each written packet; refreshes the row
// through record.ownerList only when a text changed.
class RecordProgress {
  public:
    // `durationSeconds` <= 0: live, or a duration that is not known.
    RecordProgress(const TickSource& ticks, double durationSeconds);

    // `recordedSeconds` is the media time in the file so far. True when the row was refreshed.
    bool Report(std::uint64_t bytesWritten, double recordedSeconds, DetectedStream& record);

  private:
    const TickSource& ticks_;
    double duration_;
    std::uint32_t startTick_;
    std::uint32_t lastSampleTick_;
    std::uint64_t bytesAtLastSample_ = 0;
    std::int32_t lastPercent_ = -1;  // none shown yet
    bool started_ = false;
};

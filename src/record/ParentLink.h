#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <vector>

#include "core/download/record/RecordEnding.h"
#include "core/download/record/RecordPipeFormat.h"
#include "core/download/record/RecordRequest.h"

// The recorder's side of its pipes (RecordPipeFormat): the request comes on `inFd`, whose end
// is the parent's stop; reports go out on `outFd`. Used from the recording's thread only.
class ParentLink {
  public:
    ParentLink(int inFd, int outFd);

    // Blocks for the request; false when none, or a malformed one, came.
    bool ReadRequest(RecordRequest& request);

    // True once the parent closed our input (its stop) or no longer reads our reports. Looks
    // at the input at most every few tens of milliseconds: cheap enough for every callback.
    bool StopAsked();

    // Tells the parent we are at work though nothing was written; at most once a second. A
    // progress report held back is sent instead, once it is due.
    void Alive();
    // The file's growth: the first report at once, then at most ten a second.
    void Progress(const RecordPipeFormat::Progress& progress);
    // The last word: any progress held back, then the ending.
    void End(const RecordEnding& ending);

  private:
    using Clock = std::chrono::steady_clock;

    bool Write(const std::vector<std::uint8_t>& message);

    int inFd_;
    int outFd_;
    bool stopped_ = false;
    bool broken_ = false;
    Clock::time_point lastLook_{};
    Clock::time_point lastAlive_{};
    Clock::time_point lastProgress_{};
    bool progressSent_ = false;
    std::optional<RecordPipeFormat::Progress> heldProgress_;
};

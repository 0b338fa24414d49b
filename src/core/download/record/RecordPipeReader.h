#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/capture/PipeFrames.h"
#include "core/download/record/RecordEnding.h"
#include "core/download/record/RecordPipeFormat.h"
#include "core/download/record/RecordRequest.h"

// Takes either side's bytes in pieces of any size and gives back its messages one by one
// (RecordPipeFormat). Each side trusts the other no more than the network: every type,
// length and field is checked, texts with control bytes are refused, and at most one
// message's bytes and one piece are ever held.
class RecordPipeReader {
  public:
    enum class Result { kNeedMore, kRequest, kAlive, kProgress, kEnd, kMalformed };

    void append(const std::uint8_t* data, std::size_t length);

    // The next whole message, or kNeedMore. After kMalformed the reader stays malformed.
    // The message's content is in request(), progress() or ending() until the next call.
    Result next();

    const RecordRequest& request() const { return request_; }
    const RecordPipeFormat::Progress& progress() const { return progress_; }
    const RecordEnding& ending() const { return ending_; }
    // Bytes received but not yet a whole message.
    std::size_t pending() const { return frames_.pending(); }

  private:
    Result decode(std::uint8_t type, const std::uint8_t* payload, std::size_t length);
    bool decodeRequest(const std::uint8_t* payload, std::size_t length);
    bool decodeEnd(const std::uint8_t* payload, std::size_t length);

    PipeFrames frames_;
    RecordRequest request_;
    RecordPipeFormat::Progress progress_;
    RecordEnding ending_;
};

#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/download/record/RecordEnding.h"
#include "core/download/record/RecordRequest.h"

// The framing between a recording and the recorder program it runs (quorvex-record), in the
// capture helper's style: every message is a 1-byte type, a 4-byte little-endian payload
// length and the payload.
//   parent -> recorder, on its standard input (closing it asks the recorder to stop):
//     kRequest   kind, live, seekable (1 byte each), stall seconds (4 bytes), then url,
//                referer, user agent, CA file, proxy and target name, each a 4-byte length
//                and its bytes
//   recorder -> parent, on its standard output:
//     kAlive     empty: the recorder is still at work, though nothing new was written
//     kProgress  bytes written, recorded and total microseconds (8 bytes each; total 0 when
//                not known)
//     kEnd       outcome, cause (1 byte each), code (8 bytes), detail (the rest)
class RecordPipeFormat {
  public:
    enum Type : std::uint8_t { kRequest = 1, kAlive = 2, kProgress = 3, kEnd = 4 };

    static constexpr std::size_t kHeaderSize = 5;
    static constexpr std::size_t kMaxUrl = 16 * 1024;
    static constexpr std::size_t kMaxText = 4096;  // each other text of a request
    static constexpr std::size_t kMaxRequestPayload = 7 + 6 * 4 + kMaxUrl + 5 * kMaxText;
    static constexpr std::size_t kProgressPayload = 24;
    static constexpr std::size_t kMaxDetail = 1024;
    static constexpr std::size_t kMaxEndPayload = 10 + kMaxDetail;

    struct Progress {
        std::uint64_t written = 0;
        std::int64_t recordedMicros = 0;
        std::int64_t durationMicros = 0;
    };

    // Whole messages; texts longer than their maxima are cut.
    static std::vector<std::uint8_t> requestMessage(const RecordRequest& request);
    static std::vector<std::uint8_t> aliveMessage();
    static std::vector<std::uint8_t> progressMessage(const Progress& progress);
    static std::vector<std::uint8_t> endMessage(const RecordEnding& ending);
};

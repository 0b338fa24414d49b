#pragma once

#include <array>
#include <atomic>
#include <cstddef>

#include "core/capture/CaptureFileReadAhead.h"
#include "core/session/MonitorSession.h"

// Decodes the batches of a capture file read ahead (CaptureFileReadAhead) on both threads:
// the reading thread decodes the front of each batch, the feeding thread the rest, and the
// front grows or shrinks with whichever side waits for the other. Many new streams keep the
// feeding thread busy with the list and the output; many repeats leave it idle.
class SharedFileDecoding {
  public:
    SharedFileDecoding(const MonitorSession& session, std::size_t batchPackets);

    // On the reading thread, as the read-ahead's preparation of `batch`.
    void decodeFront(const CaptureFileReadAhead::Batch& batch);
    // On the feeding thread, for the batch just taken (`ready` batches were ready when it
    // was): decodes the rest and returns the batch's detections for addDecoded().
    MonitorSession::DecodedBatch& decodeRest(const CaptureFileReadAhead::Batch& batch,
                                             std::size_t ready);

  private:
    struct Slot {
        MonitorSession::DecodedBatch decoded;
        std::size_t front = 0;  // packets decoded by the reading thread
    };

    const MonitorSession& session_;
    const std::size_t batchPackets_;
    std::array<Slot, CaptureFileReadAhead::kBatches> slots_;
    std::atomic<std::size_t> readerShare_;
};

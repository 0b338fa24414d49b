#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "core/capture/CaptureFileReadAhead.h"
#include "core/session/MonitorSession.h"

// Decodes the batches of a capture file read ahead (CaptureFileReadAhead) on both threads:
// the reading thread decodes the front of each batch, the feeding thread the rest, and the
// front grows or shrinks with whichever side waits for the other. Many new streams keep the
// feeding thread busy with the list and the output; many repeats leave it idle.
class SharedFileDecoding {
  public:
    SharedFileDecoding(const MonitorSession& session, std::size_t batchPackets);

    // Makes a record's output line (appended to `out`). Set before reading starts; the
    // reading thread then makes the lines of the detections it decoded while most of them
    // are printed (all printed, or most make new rows), and the feeding thread only copies
    // them out.
    using LineMaker = std::function<void(const StreamFields& stream, std::string& out)>;
    void setLineMaker(LineMaker maker, bool everyDetectionPrinted);

    // The read-ahead's preparation: on the reading thread, the front of each batch is decoded
    // as it is read, straight from the file's buffer.
    CaptureFileReadAhead::Preparation preparation();
    // On the feeding thread, for the batch just taken (`ready` batches were ready when it
    // was): decodes the rest and returns the batch's detections for addDecoded().
    MonitorSession::DecodedBatch& decodeRest(const CaptureFileReadAhead::Batch& batch,
                                             std::size_t ready);
    // After addDecoded() of that batch: the line made ahead for its detection `index`; empty
    // when none was made (the feeding thread makes it then).
    std::string_view madeLine(const CaptureFileReadAhead::Batch& batch, std::size_t index) const;
    // Tells how many of the batch's `detections` made new rows.
    void noteAdded(std::size_t added, std::size_t detections);

  private:
    // Reading thread: starts the batch's front, of how many datagrams it returns, each taken
    // by takeFront().
    std::size_t beginFront(const CaptureFileReadAhead::Batch& batch);
    void takeFront(const std::uint8_t* datagram, std::uint32_t length);

    struct Slot {
        MonitorSession::DecodedBatch decoded;
        std::size_t front = 0;  // packets decoded by the reading thread
        std::string lines;      // the lines made ahead, one after the other
        std::vector<std::size_t> lineEnds;
    };

    const MonitorSession& session_;
    const std::size_t batchPackets_;
    std::array<Slot, CaptureFileReadAhead::kBatches> slots_;
    std::atomic<std::size_t> readerShare_;
    LineMaker lineMaker_;
    bool everyDetectionPrinted_ = false;
    std::atomic<bool> makeLines_{false};
    // Reading thread only: the slot whose front is being decoded, and whether its lines are
    // made.
    Slot* front_ = nullptr;
    bool frontLines_ = false;
};

#include "core/session/SharedFileDecoding.h"

#include <algorithm>
#include <span>
#include <utility>

namespace {

// Packets the reading thread's share moves by per batch.
constexpr std::size_t kStep = 1;
// Batches ready when the feeding thread takes one: at most this few, and it is about to wait
// for the reading thread (and a wait costs both a sleep and a wake-up); at least this many,
// and the reading thread is well ahead.
constexpr std::size_t kFewReady = CaptureFileReadAhead::kBatches / 8;
constexpr std::size_t kManyReady = CaptureFileReadAhead::kBatches * 5 / 8;

}  // namespace

SharedFileDecoding::SharedFileDecoding(const MonitorSession& session, std::size_t batchPackets)
    : session_(session), batchPackets_(batchPackets), readerShare_(batchPackets) {}

CaptureFileReadAhead::Preparation SharedFileDecoding::preparation() {
    return {
        [this](const CaptureFileReadAhead::Batch& batch) { return beginFront(batch); },
        [this](const std::uint8_t* datagram, std::uint32_t length) { takeFront(datagram, length); },
        {}};
}

std::size_t SharedFileDecoding::beginFront(const CaptureFileReadAhead::Batch& batch) {
    Slot& slot = slots_[batch.slot];
    slot.front = 0;  // stays so should the records not fit in memory
    slot.lineEnds.clear();
    slot.lines.clear();
    slot.decoded.restart(batch.packets.size());
    front_ = &slot;
    frontLines_ = lineMaker_ && makeLines_.load(std::memory_order_relaxed);
    return std::min(batch.packets.size(), readerShare_.load(std::memory_order_relaxed));
}

void SharedFileDecoding::takeFront(const std::uint8_t* datagram, std::uint32_t length) {
    Slot& slot = *front_;
    ++slot.front;
    if (frontLines_) {
        session_.decodeDatagram(datagram, length, slot.decoded,
                                [&slot, this](const StreamFields& fields) {
                                    lineMaker_(fields, slot.lines);
                                    slot.lineEnds.push_back(slot.lines.size());
                                });
    } else {
        session_.decodeDatagram(datagram, length, slot.decoded, [](const StreamFields&) {});
    }
}

void SharedFileDecoding::setLineMaker(LineMaker maker, bool everyDetectionPrinted) {
    lineMaker_ = std::move(maker);
    everyDetectionPrinted_ = everyDetectionPrinted;
    makeLines_.store(everyDetectionPrinted, std::memory_order_relaxed);
}

std::string_view SharedFileDecoding::madeLine(const CaptureFileReadAhead::Batch& batch,
                                              std::size_t index) const {
    const Slot& slot = slots_[batch.slot];
    if (index >= slot.lineEnds.size()) {
        return {};
    }
    const std::size_t start = index == 0 ? 0 : slot.lineEnds[index - 1];
    return std::string_view(slot.lines).substr(start, slot.lineEnds[index] - start);
}

void SharedFileDecoding::noteAdded(std::size_t added, std::size_t detections) {
    if (!everyDetectionPrinted_ && detections > 0) {
        makeLines_.store(2 * added >= detections, std::memory_order_relaxed);
    }
}

MonitorSession::DecodedBatch& SharedFileDecoding::decodeRest(
    const CaptureFileReadAhead::Batch& batch, std::size_t ready) {
    // Less for the reading thread when this one nearly had to wait for the batch, more when
    // many batches were waiting for this one.
    std::size_t share = readerShare_.load(std::memory_order_relaxed);
    if (ready <= kFewReady) {
        share = share > kStep ? share - kStep : 0;
    } else if (ready >= kManyReady) {
        share = std::min(batchPackets_, share + kStep);
    }
    readerShare_.store(share, std::memory_order_relaxed);

    Slot& slot = slots_[batch.slot];
    const std::size_t front = std::min(slot.front, batch.count);
    session_.decode(std::span(batch.packets.data() + front, batch.count - front), slot.decoded);
    return slot.decoded;
}

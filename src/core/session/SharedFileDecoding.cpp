#include "core/session/SharedFileDecoding.h"

#include <algorithm>
#include <span>

namespace {

// Packets the reading thread's share moves by per batch.
constexpr std::size_t kStep = 2;

}  // namespace

SharedFileDecoding::SharedFileDecoding(const MonitorSession& session, std::size_t batchPackets)
    : session_(session), batchPackets_(batchPackets), readerShare_(batchPackets) {}

void SharedFileDecoding::decodeFront(const CaptureFileReadAhead::Batch& batch) {
    Slot& slot = slots_[batch.slot];
    slot.front = 0;  // stays so should the records not fit in memory
    slot.decoded.restart(batch.packets.size());
    slot.front = std::min(batch.count, readerShare_.load(std::memory_order_relaxed));
    session_.decode(std::span(batch.packets.data(), slot.front), slot.decoded);
}

MonitorSession::DecodedBatch& SharedFileDecoding::decodeRest(
    const CaptureFileReadAhead::Batch& batch, std::size_t ready) {
    // Less for the reading thread when this one had to wait for the batch, more when batches
    // were waiting for this one.
    std::size_t share = readerShare_.load(std::memory_order_relaxed);
    if (ready == 0) {
        share = share > kStep ? share - kStep : 0;
    } else if (ready >= CaptureFileReadAhead::kBatches / 2) {
        share = std::min(batchPackets_, share + kStep);
    }
    readerShare_.store(share, std::memory_order_relaxed);

    Slot& slot = slots_[batch.slot];
    const std::size_t front = std::min(slot.front, batch.count);
    session_.decode(std::span(batch.packets.data() + front, batch.count - front), slot.decoded);
    return slot.decoded;
}

#include "core/capture/CaptureFileReadAhead.h"

#include <new>

CaptureFileReadAhead::CaptureFileReadAhead(CaptureFileReader& reader, std::size_t batchPackets,
                                           Prepare prepare)
    : CaptureFileReadAhead(reader, batchPackets, Preparation{{}, {}, std::move(prepare)}) {}

CaptureFileReadAhead::CaptureFileReadAhead(CaptureFileReader& reader, std::size_t batchPackets,
                                           Preparation preparation)
    : reader_(reader), preparation_(std::move(preparation)), batches_(kBatches) {
    for (std::size_t slot = 0; slot < kBatches; ++slot) {
        batches_[slot].packets.resize(batchPackets == 0 ? 1 : batchPackets);
        batches_[slot].slot = slot;
    }
    thread_ = std::thread(&CaptureFileReadAhead::readAll, this);
}

CaptureFileReadAhead::~CaptureFileReadAhead() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

// Reading thread: fills the batches in turn, each once the taker has given it back.
void CaptureFileReadAhead::readAll() {
    for (std::size_t index = 0;; ++index) {
        {
            std::unique_lock lock(mutex_);
            // With every batch full, wait until half of them are free: the thread then
            // sleeps and wakes once for several batches instead of once for each.
            if (filled_ == kBatches) {
                changed_.wait(lock, [this] { return stop_ || filled_ <= kBatches / 2; });
            }
            if (stop_) {
                return;
            }
        }
        Batch& batch = batches_[index % kBatches];
        fill(batch);
        bool last = batch.status != CaptureFileReader::Status::Packet;
        {
            std::lock_guard lock(mutex_);
            ++filled_;
        }
        changed_.notify_all();
        if (last) {
            return;
        }
    }
}

void CaptureFileReadAhead::fill(Batch& batch) {
    batch.count = 0;
    batch.status = CaptureFileReader::Status::Packet;
    try {
        const std::size_t handOver =
            preparation_.handOver && preparation_.take ? preparation_.handOver(batch) : 0;
        batch.status = reader_.nextBatch(batch.packets, batch.count, handOver, preparation_.take);
        if (batch.status == CaptureFileReader::Status::Error) {
            batch.error = reader_.error();
        }
        if (preparation_.prepare) {
            preparation_.prepare(batch);
        }
    } catch (const std::bad_alloc&) {
        // Nothing of a batch half read or half prepared is handed over.
        batch.count = 0;
        batch.status = CaptureFileReader::Status::Error;
        batch.error.clear();  // no memory for words either; the taker names the failure
    }
}

const CaptureFileReadAhead::Batch& CaptureFileReadAhead::next() {
    std::unique_lock lock(mutex_);
    if (holding_) {
        // The batch handed out last time goes back to the reading thread, which sleeps until
        // half of them are free.
        if (--filled_ == kBatches / 2) {
            changed_.notify_all();
        }
    }
    readyAtLastTake_ = filled_;
    changed_.wait(lock, [this] { return filled_ > 0; });
    holding_ = true;
    return batches_[taken_++ % kBatches];
}

#include "core/session/SecureTrafficWorker.h"

#include <cstring>
#include <utility>

namespace {

// Enough datagrams a chunk that the lock is taken rarely; a few chunks in flight at most.
constexpr std::size_t kChunkBytes = 1 << 20;
constexpr std::size_t kQueuedBytes = 16 << 20;

struct RecordHead {
    std::uint64_t micros;
    std::uint32_t length;
};

}  // namespace

SecureTrafficWorker::SecureTrafficWorker(std::unique_ptr<SecureTrafficReader> reader)
    : reader_(std::move(reader)), thread_(&SecureTrafficWorker::run, this) {}

SecureTrafficWorker::~SecureTrafficWorker() {
    finish();
}

void SecureTrafficWorker::read(const std::uint8_t* datagram, std::uint32_t length,
                               std::uint64_t nowMicros) {
    const RecordHead head{nowMicros, length};
    std::vector<std::uint8_t>& bytes = filling_.bytes;
    const std::size_t at = bytes.size();
    bytes.resize(at + sizeof head + length);
    std::memcpy(bytes.data() + at, &head, sizeof head);
    std::memcpy(bytes.data() + at + sizeof head, datagram, length);
    if (bytes.size() >= kChunkBytes) {
        handOver(false, 0);
    }
}

void SecureTrafficWorker::tick(std::uint64_t nowMicros) {
    handOver(true, nowMicros);
}

void SecureTrafficWorker::handOver(bool tick, std::uint64_t nowMicros) {
    filling_.tick = tick;
    filling_.tickMicros = nowMicros;
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return queuedBytes_ < kQueuedBytes; });
    queuedBytes_ += filling_.bytes.size();
    queued_.push_back(std::move(filling_));
    filling_ = Chunk{};
    filling_.bytes.reserve(kChunkBytes + 4096);
    changed_.notify_all();
}

void SecureTrafficWorker::finish() {
    if (!thread_.joinable()) {
        return;
    }
    handOver(false, 0);
    {
        std::lock_guard lock(mutex_);
        ending_ = true;
    }
    changed_.notify_all();
    thread_.join();
    reader_->finish();
}

void SecureTrafficWorker::run() {
    std::unique_lock lock(mutex_);
    while (true) {
        changed_.wait(lock, [this] { return !queued_.empty() || ending_; });
        if (queued_.empty()) {
            return;  // ending, and everything read
        }
        Chunk chunk = std::move(queued_.front());
        queued_.pop_front();
        lock.unlock();
        readChunk(chunk);
        lock.lock();
        queuedBytes_ -= chunk.bytes.size();
        changed_.notify_all();
    }
}

void SecureTrafficWorker::readChunk(const Chunk& chunk) {
    const std::uint8_t* at = chunk.bytes.data();
    const std::uint8_t* end = at + chunk.bytes.size();
    while (at < end) {
        RecordHead head;
        std::memcpy(&head, at, sizeof head);
        at += sizeof head;
        reader_->read(at, head.length, head.micros);
        at += head.length;
    }
    if (chunk.tick) {
        reader_->tick(chunk.tickMicros);
    }
}

#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "core/session/SecureTrafficReader.h"

// Runs a SecureTrafficReader on a thread of its own, so that decrypting connections does not
// slow the thread that reads the capture (a file's reading thread, the capture thread). The
// datagrams are copied in order into chunks that cross to the worker under one lock; the
// reader's `found` callback runs on the worker. One thread feeds it at a time.
class SecureTrafficWorker {
  public:
    explicit SecureTrafficWorker(std::unique_ptr<SecureTrafficReader> reader);
    // Finishes as finish() does.
    ~SecureTrafficWorker();

    SecureTrafficWorker(const SecureTrafficWorker&) = delete;
    SecureTrafficWorker& operator=(const SecureTrafficWorker&) = delete;

    // Copies the datagram for the worker; waits while too much is on its way already.
    void read(const std::uint8_t* datagram, std::uint32_t length, std::uint64_t nowMicros);
    // Hands over what was copied so far, and has the reader look at waiting connections.
    void tick(std::uint64_t nowMicros);
    // Hands over the rest, ends every connection and joins the worker; the summary is final
    // then. Safe to call again.
    void finish();

    const SecureTrafficReader::Summary& summary() const { return reader_->summary(); }

  private:
    struct Chunk {
        std::vector<std::uint8_t> bytes;  // records: time, length, datagram
        bool tick = false;
        std::uint64_t tickMicros = 0;
    };

    void handOver(bool tick, std::uint64_t nowMicros);
    void run();
    void readChunk(const Chunk& chunk);

    std::unique_ptr<SecureTrafficReader> reader_;
    Chunk filling_;  // feeding thread only

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Chunk> queued_;
    std::size_t queuedBytes_ = 0;
    bool ending_ = false;
    std::thread thread_;
};

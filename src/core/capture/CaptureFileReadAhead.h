#pragma once

#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "core/capture/CaptureFileReader.h"
#include "core/capture/CapturedPacket.h"

// Reads a capture file on a thread of its own, a few batches ahead of the one who takes them,
// so that reading the file and working on its packets share two cores. Batches come in file
// order. Only for a source that never blocks for long (a file, not a pipe): the destructor
// stops the reading thread and joins it, which waits for a read in progress.
class CaptureFileReadAhead {
  public:
    struct Batch {
        std::vector<CapturedPacket> packets;
        std::size_t count = 0;  // packets in use
        // Packet while more follow; End or Error (with `error`) in the last batch.
        CaptureFileReader::Status status = CaptureFileReader::Status::Packet;
        std::string error;
        std::size_t slot = 0;  // which of the kBatches batches this is
    };

    static constexpr std::size_t kBatches = 16;

    // Work done on each batch on the reading thread once it is filled, before it is handed
    // over (decoding it, say, into a place of the taker's for the batch's slot).
    using Prepare = std::function<void(const Batch& batch)>;
    // The same with datagrams worked on as they are read, uncopied: `handOver(batch)`, before
    // the batch is read, tells how many of its first datagrams go to `take` instead of into
    // its packets; `prepare` follows once it is filled.
    struct Preparation {
        std::function<std::size_t(const Batch& batch)> handOver;
        CaptureFileReader::DatagramTaker take;
        Prepare prepare;
    };

    // `reader` is open and stays alive, and untouched by others, until this object is gone.
    CaptureFileReadAhead(CaptureFileReader& reader, std::size_t batchPackets, Prepare prepare = {});
    CaptureFileReadAhead(CaptureFileReader& reader, std::size_t batchPackets,
                         Preparation preparation);
    ~CaptureFileReadAhead();
    CaptureFileReadAhead(const CaptureFileReadAhead&) = delete;
    CaptureFileReadAhead& operator=(const CaptureFileReadAhead&) = delete;

    // The next batch; valid until the next call. Not called again after the last batch.
    const Batch& next();
    // How many batches were ready when next() was last called: 0 when the taker had to wait
    // for the reading thread, kBatches when the reading thread waits for the taker.
    std::size_t readyAtLastTake() const { return readyAtLastTake_; }

  private:
    void readAll();
    void fill(Batch& batch);

    CaptureFileReader& reader_;
    Preparation preparation_;
    std::vector<Batch> batches_;
    // Guarded by mutex_: batches filled and not yet taken, and the stop request.
    std::mutex mutex_;
    std::condition_variable changed_;
    std::size_t filled_ = 0;
    bool stop_ = false;
    std::size_t taken_ = 0;            // taker's thread only: batches handed out so far
    bool holding_ = false;             // taker's thread only: the last batch handed out is in use
    std::size_t readyAtLastTake_ = 0;  // taker's thread only
    std::thread thread_;
};

#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

#include "core/capture/CPacketCapture.h"
#include "core/capture/PacketReceiver.h"

// The helper's side of the pipe: every datagram and status report goes to the parent as one
// message (CapturePipeFormat). Datagrams are collected and written at the end of each batch
// the capture hands over (or when 64 KiB have gathered); a report first writes them. A capture that
// ends by itself, or a pipe the parent no longer reads, wakes the helper's main thread through
// `wakeFd`.
class PipeOutput : public PacketReceiver {
  public:
    PipeOutput(int outFd, int wakeFd);

    void OnCapturedPacket(const CapturedPacket* packet) override;
    void OnLargeDatagram(const std::uint8_t* datagram, std::uint32_t length) override;
    void OnPacketBatchEnd() override;
    void OnCaptureStatus(const CaptureStatus& status) override;
    bool WriteStatistics(const CPacketCapture::Statistics& counts);

    bool Failed() const { return failed_.load(); }

  private:
    static constexpr std::size_t kFlushAt = 64 * 1024;

    void Collect(const std::uint8_t* datagram, std::uint32_t length);
    bool FlushLocked();
    bool WriteAll(const void* data, std::size_t length);
    bool WriteMessage(const std::uint8_t* header, std::size_t headerLength,
                      const std::uint8_t* payload, std::size_t payloadLength);
    void Wake();

    int outFd_;
    int wakeFd_;
    std::mutex mutex_;  // one message at a time: reports come from both threads
    std::atomic<bool> failed_{false};
    std::vector<std::uint8_t> pending_;  // whole messages not yet written
};

#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/capture/CPacketCapture.h"
#include "core/capture/CaptureStatus.h"
#include "core/capture/CapturedPacket.h"
#include "core/capture/PipeFrames.h"

// Takes the helper's output in pieces of any size and gives back its messages one by one
// (CapturePipeFormat). The helper is trusted no more than the network: every type, length
// and field is checked, and at most one message's bytes are ever held.
class CapturePipeReader {
  public:
    enum class Result { kNeedMore, kStatus, kPacket, kLargePacket, kStatistics, kMalformed };

    // Adds received bytes; they are consumed by next().
    void append(const std::uint8_t* data, std::size_t length);

    // The next whole message, or kNeedMore. After kMalformed the reader stays malformed.
    // The message's content is in status(), packet(), largeDatagram() or statistics() until
    // the next call.
    Result next();

    const CaptureStatus& status() const { return status_; }
    const CapturedPacket& packet() const { return packet_; }
    const CPacketCapture::Statistics& statistics() const { return statistics_; }
    // A datagram longer than packet() holds (kLargePacket), in the reader's own buffer.
    const std::uint8_t* largeDatagram() const { return large_; }
    std::uint32_t largeDatagramLength() const { return largeLength_; }
    // Bytes received but not yet a whole message.
    std::size_t pending() const { return frames_.pending(); }

  private:
    Result decode(std::uint8_t type, const std::uint8_t* payload, std::size_t length);
    bool decodeStatus(const std::uint8_t* payload, std::size_t length);
    void takePacket(const std::uint8_t* payload, std::size_t length);

    PipeFrames frames_;
    CaptureStatus status_;
    CapturedPacket packet_;
    CPacketCapture::Statistics statistics_;
    const std::uint8_t* large_ = nullptr;  // valid until the next append()
    std::uint32_t largeLength_ = 0;
};

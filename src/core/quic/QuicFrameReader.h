#pragma once

#include <cstdint>
#include <span>

#include "core/quic/QuicFrame.h"
#include "core/tls/ByteReader.h"

// Reads the frames of one opened packet in order. Frames have no length of their own: a frame
// that is malformed or of an unknown type ends the reading, since nothing after it can be found.
class QuicFrameReader {
  public:
    enum class Next { Frame, End, Malformed, UnknownType };

    explicit QuicFrameReader(std::span<const std::uint8_t> payload) : reader_(payload) {}

    Next next(QuicFrame& frame);
    // The type of the frame that could not be read (after UnknownType or Malformed).
    std::uint64_t lastType() const { return lastType_; }

  private:
    bool readBody(QuicFrame& frame);
    bool readAck(bool ecn);
    bool readStream(QuicFrame& frame);
    bool readCrypto(QuicFrame& frame);
    bool readNewConnectionId(QuicFrame& frame);
    bool readConnectionClose(QuicFrame& frame);
    bool readVarInts(std::uint64_t* values, int count);
    bool readLengthPrefixed(std::span<const std::uint8_t>& out);
    void skipPadding();

    ByteReader reader_;
    std::uint64_t lastType_ = 0;
};

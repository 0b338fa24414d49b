#pragma once

#include <cstdint>

// One IPv4 or IPv6 datagram handed from the capture thread (or the capture-file reader) to the
// detector. Valid only during the hand-off call; bytes beyond `length` are zero, except in the
// batches of a capture file (CaptureFileReader::nextBatch), which only the detector reads.
struct CapturedPacket {
    static constexpr std::uint32_t kCapacity = 2048;
    // The longest datagram a length field can give: an IPv6 header and the largest payload.
    static constexpr std::uint32_t kMaxDatagram = 40 + 65535;

    std::uint32_t length = 0;
    std::uint8_t data[kCapacity] = {};
};

#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/capture/CPacketCapture.h"
#include "core/capture/CaptureStatus.h"

// The framing between the capture helper and its parent on the helper's standard output.
// Every message is a 1-byte type, a 4-byte little-endian payload length and the payload:
//   kStatus      state (1 byte), cause (1 byte), interface name length (2 bytes), name, message
//                (the rest)
//   kPacket      one IP datagram, 1..CapturedPacket::kMaxDatagram bytes (over kCapacity only for
//                a TLS port's datagram)
//   kStatistics  received, dropped, handed over: 8 bytes each
class CapturePipeFormat {
  public:
    enum Type : std::uint8_t { kStatus = 1, kPacket = 2, kStatistics = 3 };

    static constexpr std::size_t kHeaderSize = 5;
    static constexpr std::size_t kMaxName = 256;
    static constexpr std::size_t kMaxMessage = 1024;
    static constexpr std::size_t kStatusHead = 4;  // state, cause, name length
    static constexpr std::size_t kMaxStatusPayload = kStatusHead + kMaxName + kMaxMessage;
    static constexpr std::size_t kStatisticsPayload = 24;

    // The message header for a payload of `length` bytes.
    static void appendHeader(std::vector<std::uint8_t>& out, Type type, std::uint32_t length);
    // A whole status message; name and message are cut to their maxima.
    static std::vector<std::uint8_t> statusMessage(const CaptureStatus& status);
    static std::vector<std::uint8_t> statisticsMessage(const CPacketCapture::Statistics& counts);
};

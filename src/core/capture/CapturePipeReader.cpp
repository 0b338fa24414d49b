#include "core/capture/CapturePipeReader.h"

#include <cstring>
#include <string>

#include "core/capture/CapturePipeFormat.h"

namespace {

std::uint64_t get(const std::uint8_t* p, int bytes) {
    return PipeFrames::number(p, bytes);
}

// The longest payload a message of `type` may have; 0 for an unknown type.
std::size_t maxPayload(std::uint8_t type) {
    switch (type) {
        case CapturePipeFormat::kStatus:
            return CapturePipeFormat::kMaxStatusPayload;
        case CapturePipeFormat::kPacket:
            return CapturedPacket::kMaxDatagram;
        case CapturePipeFormat::kStatistics:
            return CapturePipeFormat::kStatisticsPayload;
        default:
            return 0;
    }
}

}  // namespace

void CapturePipeReader::append(const std::uint8_t* data, std::size_t length) {
    frames_.append(data, length);
}

CapturePipeReader::Result CapturePipeReader::next() {
    return frames_.nextDecoded<Result>(
        maxPayload, [this](std::uint8_t type, const std::uint8_t* payload, std::size_t length) {
            return decode(type, payload, length);
        });
}

CapturePipeReader::Result CapturePipeReader::decode(std::uint8_t type, const std::uint8_t* payload,
                                                    std::size_t length) {
    switch (type) {
        case CapturePipeFormat::kPacket:
            if (length == 0) {
                return Result::kMalformed;
            }
            if (length > CapturedPacket::kCapacity) {
                large_ = payload;
                largeLength_ = static_cast<std::uint32_t>(length);
                return Result::kLargePacket;
            }
            takePacket(payload, length);
            return Result::kPacket;
        case CapturePipeFormat::kStatistics:
            if (length != CapturePipeFormat::kStatisticsPayload) {
                return Result::kMalformed;
            }
            statistics_.received = get(payload, 8);
            statistics_.dropped = get(payload + 8, 8);
            statistics_.handedOver = get(payload + 16, 8);
            return Result::kStatistics;
        case CapturePipeFormat::kStatus:
            return decodeStatus(payload, length) ? Result::kStatus : Result::kMalformed;
        default:
            return Result::kMalformed;
    }
}

void CapturePipeReader::takePacket(const std::uint8_t* payload, std::size_t length) {
    // The receiver may rely on zeros after the datagram, as from the capture itself. Only the
    // previous datagram's longer rest needs them: behind that the packet is still all zero.
    const std::size_t previous = packet_.length;
    packet_.length = static_cast<std::uint32_t>(length);
    std::memcpy(packet_.data, payload, length);
    if (previous > length) {
        std::memset(packet_.data + length, 0, previous - length);
    }
}

bool CapturePipeReader::decodeStatus(const std::uint8_t* payload, std::size_t length) {
    constexpr std::size_t head = CapturePipeFormat::kStatusHead;
    if (length < head) {
        return false;
    }
    const std::uint8_t state = payload[0];
    const std::uint8_t cause = payload[1];
    // A helper reports only what happened to its capture, never idle or opening.
    if (state != CaptureStatus::kRunning && state != CaptureStatus::kFailed &&
        state != CaptureStatus::kLost) {
        return false;
    }
    if (cause > CaptureStatus::kLastCause) {
        return false;
    }
    const std::size_t nameLength = get(payload + 2, 2);
    if (nameLength > CapturePipeFormat::kMaxName || nameLength > length - head ||
        length - head - nameLength > CapturePipeFormat::kMaxMessage) {
        return false;
    }
    const char* text = reinterpret_cast<const char*>(payload + head);
    status_.state = static_cast<CaptureStatus::State>(state);
    status_.cause = static_cast<CaptureStatus::Cause>(cause);
    status_.interfaceName.assign(text, nameLength);
    status_.message.assign(text + nameLength, length - head - nameLength);
    return true;
}

#include "core/capture/CapturePipeReader.h"

#include <cstring>
#include <string>

#include "core/capture/CapturePipeFormat.h"

namespace {

std::uint64_t get(const std::uint8_t* p, int bytes) {
    std::uint64_t value = 0;
    for (int i = bytes - 1; i >= 0; --i) {
        value = (value << 8) | p[i];
    }
    return value;
}

// The longest payload a message of `type` may have; 0 for an unknown type.
std::size_t maxPayload(std::uint8_t type) {
    switch (type) {
        case CapturePipeFormat::kStatus:
            return CapturePipeFormat::kMaxStatusPayload;
        case CapturePipeFormat::kPacket:
            return CapturedPacket::kCapacity;
        case CapturePipeFormat::kStatistics:
            return CapturePipeFormat::kStatisticsPayload;
        default:
            return 0;
    }
}

}  // namespace

void CapturePipeReader::append(const std::uint8_t* data, std::size_t length) {
    if (malformed_) {
        return;
    }
    // Consumed bytes go before new ones arrive, so the buffer holds at most one message and
    // one read.
    if (start_ > 0) {
        buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(start_));
        start_ = 0;
    }
    buffer_.insert(buffer_.end(), data, data + length);
}

CapturePipeReader::Result CapturePipeReader::next() {
    if (malformed_) {
        return Result::kMalformed;
    }
    const std::size_t available = buffer_.size() - start_;
    if (available < CapturePipeFormat::kHeaderSize) {
        return Result::kNeedMore;
    }
    const std::uint8_t* header = buffer_.data() + start_;
    const std::uint8_t type = header[0];
    const std::uint64_t length = get(header + 1, 4);
    if (length > maxPayload(type)) {
        malformed_ = true;
        return Result::kMalformed;
    }
    if (available - CapturePipeFormat::kHeaderSize < length) {
        return Result::kNeedMore;
    }
    start_ += CapturePipeFormat::kHeaderSize + length;
    Result result = decode(type, header + CapturePipeFormat::kHeaderSize, length);
    malformed_ = result == Result::kMalformed;
    return result;
}

CapturePipeReader::Result CapturePipeReader::decode(std::uint8_t type, const std::uint8_t* payload,
                                                    std::size_t length) {
    switch (type) {
        case CapturePipeFormat::kPacket:
            if (length == 0) {
                return Result::kMalformed;
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
    if (length < 3) {
        return false;
    }
    const std::uint8_t state = payload[0];
    // A helper reports only what happened to its capture, never idle or opening.
    if (state != CaptureStatus::kRunning && state != CaptureStatus::kFailed &&
        state != CaptureStatus::kLost) {
        return false;
    }
    const std::size_t nameLength = get(payload + 1, 2);
    if (nameLength > CapturePipeFormat::kMaxName || nameLength > length - 3 ||
        length - 3 - nameLength > CapturePipeFormat::kMaxMessage) {
        return false;
    }
    const char* text = reinterpret_cast<const char*>(payload + 3);
    status_.state = static_cast<CaptureStatus::State>(state);
    status_.interfaceName.assign(text, nameLength);
    status_.message.assign(text + nameLength, length - 3 - nameLength);
    return true;
}

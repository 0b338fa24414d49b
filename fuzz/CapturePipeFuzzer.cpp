// Feeds arbitrary helper output, in pieces of varying size, to the parent's pipe reader.
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "core/capture/CapturePipeFormat.h"
#include "core/capture/CapturePipeReader.h"

namespace {

void check(const CapturePipeReader& reader, CapturePipeReader::Result result) {
    switch (result) {
        case CapturePipeReader::Result::kPacket: {
            const CapturedPacket& packet = reader.packet();
            if (packet.length == 0 || packet.length > CapturedPacket::kCapacity) {
                __builtin_trap();
            }
            for (std::uint32_t i = packet.length; i < CapturedPacket::kCapacity; ++i) {
                if (packet.data[i] != 0) {
                    __builtin_trap();
                }
            }
            break;
        }
        case CapturePipeReader::Result::kStatus: {
            const CaptureStatus& status = reader.status();
            if ((status.state != CaptureStatus::kRunning &&
                 status.state != CaptureStatus::kFailed && status.state != CaptureStatus::kLost) ||
                status.interfaceName.size() > CapturePipeFormat::kMaxName ||
                status.message.size() > CapturePipeFormat::kMaxMessage) {
                __builtin_trap();
            }
            break;
        }
        default:
            break;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    // The first byte sets the size of the pieces the pipe delivers.
    const std::size_t piece = std::size_t{data[0]} + 1;
    ++data;
    --size;
    CapturePipeReader reader;
    for (std::size_t at = 0; at < size; at += piece) {
        reader.append(data + at, std::min(piece, size - at));
        for (auto result = reader.next(); result != CapturePipeReader::Result::kNeedMore;
             result = reader.next()) {
            check(reader, result);
            if (result == CapturePipeReader::Result::kMalformed) {
                return 0;
            }
        }
        // Never more than one unfinished message is held.
        if (reader.pending() >= CapturePipeFormat::kHeaderSize + CapturedPacket::kCapacity) {
            __builtin_trap();
        }
    }
    return 0;
}

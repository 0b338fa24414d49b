#include "helper/PipeOutput.h"

#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <new>
#include <vector>

#include "core/capture/CapturePipeFormat.h"

void PipeOutput::OnCapturedPacket(const CapturedPacket* packet) {
    if (packet == nullptr || packet->length == 0 || failed_.load()) {
        return;
    }
    // No allocation per packet: the header is built in place.
    std::uint8_t header[CapturePipeFormat::kHeaderSize] = {CapturePipeFormat::kPacket};
    for (int i = 0; i < 4; ++i) {
        header[1 + i] = static_cast<std::uint8_t>(packet->length >> (8 * i));
    }
    if (!WriteMessage(header, sizeof header, packet->data, packet->length)) {
        Wake();
    }
}

void PipeOutput::OnCaptureStatus(const CaptureStatus& status) {
    bool written = false;
    try {
        std::vector<std::uint8_t> message = CapturePipeFormat::statusMessage(status);
        written = WriteMessage(message.data(), message.size(), nullptr, 0);
    } catch (const std::bad_alloc&) {
        failed_.store(true);  // the parent sees the helper end without a word
    }
    if (!written || status.state != CaptureStatus::kRunning) {
        Wake();
    }
}

bool PipeOutput::WriteStatistics(const CPacketCapture::Statistics& counts) {
    try {
        std::vector<std::uint8_t> message = CapturePipeFormat::statisticsMessage(counts);
        return WriteMessage(message.data(), message.size(), nullptr, 0);
    } catch (const std::bad_alloc&) {
        failed_.store(true);
        return false;
    }
}

bool PipeOutput::WriteMessage(const std::uint8_t* header, std::size_t headerLength,
                              const std::uint8_t* payload, std::size_t payloadLength) {
    std::lock_guard lock(mutex_);
    if (failed_.load()) {
        return false;
    }
    // One gathered write: a message up to the pipe's atomic size arrives whole.
    iovec pieces[2] = {{const_cast<std::uint8_t*>(header), headerLength},
                       {const_cast<std::uint8_t*>(payload), payloadLength}};
    ssize_t written;
    do {
        written = ::writev(outFd_, pieces, payloadLength > 0 ? 2 : 1);
    } while (written < 0 && errno == EINTR);
    const std::size_t total = headerLength + payloadLength;
    bool ok = written >= 0;
    if (ok && static_cast<std::size_t>(written) < total) {
        // A short write: the rest follows piece by piece.
        std::size_t done = static_cast<std::size_t>(written);
        if (done < headerLength) {
            ok = WriteAll(header + done, headerLength - done) && WriteAll(payload, payloadLength);
        } else {
            ok = WriteAll(payload + (done - headerLength), total - done);
        }
    }
    if (!ok) {
        failed_.store(true);
    }
    return ok;
}

bool PipeOutput::WriteAll(const void* data, std::size_t length) {
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    while (length > 0) {
        ssize_t written = ::write(outFd_, bytes, length);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return false;
        }
        bytes += written;
        length -= static_cast<std::size_t>(written);
    }
    return true;
}

void PipeOutput::Wake() {
    const char byte = 1;
    // A full wake pipe has woken the main thread already.
    [[maybe_unused]] ssize_t ignored = ::write(wakeFd_, &byte, 1);
}

#include "helper/PipeOutput.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <new>
#include <vector>

#include "core/capture/CapturePipeFormat.h"

PipeOutput::PipeOutput(int outFd, int wakeFd) : outFd_(outFd), wakeFd_(wakeFd) {
    pending_.reserve(kFlushAt + CapturePipeFormat::kHeaderSize + CapturedPacket::kMaxDatagram);
}

void PipeOutput::OnCapturedPacket(const CapturedPacket* packet) {
    if (packet != nullptr) {
        Collect(packet->data, std::min(packet->length, CapturedPacket::kCapacity));
    }
}

void PipeOutput::OnLargeDatagram(const std::uint8_t* datagram, std::uint32_t length) {
    Collect(datagram, std::min(length, CapturedPacket::kMaxDatagram));
}

void PipeOutput::Collect(const std::uint8_t* datagram, std::uint32_t length) {
    if (length == 0 || failed_.load()) {
        return;
    }
    std::uint8_t header[CapturePipeFormat::kHeaderSize] = {CapturePipeFormat::kPacket};
    for (int i = 0; i < 4; ++i) {
        header[1 + i] = static_cast<std::uint8_t>(length >> (8 * i));
    }
    std::lock_guard lock(mutex_);
    // Collected, not written: one write per batch instead of one per packet is what lets
    // the helper keep up with a million packets a second. No allocation: room was reserved.
    pending_.insert(pending_.end(), header, header + sizeof header);
    pending_.insert(pending_.end(), datagram, datagram + length);
    if (pending_.size() >= kFlushAt && !FlushLocked()) {
        Wake();
    }
}

void PipeOutput::OnPacketBatchEnd() {
    std::lock_guard lock(mutex_);
    if (!FlushLocked()) {
        Wake();
    }
}

bool PipeOutput::FlushLocked() {
    if (failed_.load()) {
        pending_.clear();
        return false;
    }
    bool ok = WriteAll(pending_.data(), pending_.size());
    pending_.clear();
    if (!ok) {
        failed_.store(true);
    }
    return ok;
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
    // Packets collected so far go first: the parent reads messages in the order they came.
    if (!FlushLocked()) {
        return false;
    }
    bool ok = WriteAll(header, headerLength) && WriteAll(payload, payloadLength);
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

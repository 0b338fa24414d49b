#include "core/capture/CapturePipeFormat.h"

#include <algorithm>

namespace {

void put16(std::vector<std::uint8_t>& out, std::uint32_t value) {
    out.push_back(static_cast<std::uint8_t>(value));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
}

void put32(std::vector<std::uint8_t>& out, std::uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) {
        out.push_back(static_cast<std::uint8_t>(value >> shift));
    }
}

void put64(std::vector<std::uint8_t>& out, std::uint64_t value) {
    for (int shift = 0; shift < 64; shift += 8) {
        out.push_back(static_cast<std::uint8_t>(value >> shift));
    }
}

std::string_view cut(const std::string& text, std::size_t limit) {
    return std::string_view(text).substr(0, std::min(text.size(), limit));
}

}  // namespace

void CapturePipeFormat::appendHeader(std::vector<std::uint8_t>& out, Type type,
                                     std::uint32_t length) {
    out.push_back(type);
    put32(out, length);
}

std::vector<std::uint8_t> CapturePipeFormat::statusMessage(const CaptureStatus& status) {
    std::string_view name = cut(status.interfaceName, kMaxName);
    std::string_view message = cut(status.message, kMaxMessage);
    std::vector<std::uint8_t> out;
    appendHeader(out, kStatus,
                 static_cast<std::uint32_t>(kStatusHead + name.size() + message.size()));
    out.push_back(static_cast<std::uint8_t>(status.state));
    out.push_back(static_cast<std::uint8_t>(status.cause));
    put16(out, static_cast<std::uint32_t>(name.size()));
    out.insert(out.end(), name.begin(), name.end());
    out.insert(out.end(), message.begin(), message.end());
    return out;
}

std::vector<std::uint8_t> CapturePipeFormat::statisticsMessage(
    const CPacketCapture::Statistics& counts) {
    std::vector<std::uint8_t> out;
    appendHeader(out, kStatistics, kStatisticsPayload);
    put64(out, counts.received);
    put64(out, counts.dropped);
    put64(out, counts.handedOver);
    return out;
}

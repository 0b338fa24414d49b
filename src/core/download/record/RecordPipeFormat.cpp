#include "core/download/record/RecordPipeFormat.h"

#include <algorithm>
#include <string>
#include <string_view>

namespace {

void put(std::vector<std::uint8_t>& out, std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    }
}

std::string_view cut(const std::string& text, std::size_t limit) {
    return std::string_view(text).substr(0, std::min(text.size(), limit));
}

void putText(std::vector<std::uint8_t>& out, std::string_view text) {
    put(out, text.size(), 4);
    out.insert(out.end(), text.begin(), text.end());
}

std::vector<std::uint8_t> framed(RecordPipeFormat::Type type,
                                 const std::vector<std::uint8_t>& payload) {
    std::vector<std::uint8_t> out;
    out.reserve(RecordPipeFormat::kHeaderSize + payload.size());
    out.push_back(type);
    put(out, payload.size(), 4);
    out.insert(out.end(), payload.begin(), payload.end());
    return out;
}

}  // namespace

std::vector<std::uint8_t> RecordPipeFormat::requestMessage(const RecordRequest& request) {
    std::vector<std::uint8_t> payload;
    payload.push_back(static_cast<std::uint8_t>(request.kind));
    payload.push_back(request.live ? 1 : 0);
    payload.push_back(request.seekable ? 1 : 0);
    put(payload, request.stallSeconds, 4);
    putText(payload, cut(request.url, kMaxUrl));
    for (const std::string* text : {&request.referer, &request.userAgent, &request.caFile,
                                    &request.proxy, &request.targetName}) {
        putText(payload, cut(*text, kMaxText));
    }
    return framed(kRequest, payload);
}

std::vector<std::uint8_t> RecordPipeFormat::aliveMessage() {
    return framed(kAlive, {});
}

std::vector<std::uint8_t> RecordPipeFormat::progressMessage(const Progress& progress) {
    std::vector<std::uint8_t> payload;
    put(payload, progress.written, 8);
    put(payload, static_cast<std::uint64_t>(progress.recordedMicros), 8);
    put(payload, static_cast<std::uint64_t>(progress.durationMicros), 8);
    return framed(kProgress, payload);
}

std::vector<std::uint8_t> RecordPipeFormat::endMessage(const RecordEnding& ending) {
    std::vector<std::uint8_t> payload;
    payload.push_back(static_cast<std::uint8_t>(ending.outcome));
    payload.push_back(static_cast<std::uint8_t>(ending.cause));
    put(payload, static_cast<std::uint64_t>(ending.code), 8);
    std::string_view detail = cut(ending.detail, kMaxDetail);
    payload.insert(payload.end(), detail.begin(), detail.end());
    return framed(kEnd, payload);
}

#include "core/download/record/RecordPipeReader.h"

#include <algorithm>
#include <string>

namespace {

std::uint64_t get(const std::uint8_t* p, int bytes) {
    return PipeFrames::number(p, bytes);
}

// The longest payload a message of `type` may have; -1 for an unknown type.
long long maxPayload(std::uint8_t type) {
    switch (type) {
        case RecordPipeFormat::kAlive:
            return 0;
        case RecordPipeFormat::kRequest:
            return RecordPipeFormat::kMaxRequestPayload;
        case RecordPipeFormat::kProgress:
            return RecordPipeFormat::kProgressPayload;
        case RecordPipeFormat::kEnd:
            return RecordPipeFormat::kMaxEndPayload;
        default:
            return -1;
    }
}

bool hasControlBytes(const std::string& text) {
    return std::any_of(text.begin(), text.end(), [](char c) {
        auto byte = static_cast<unsigned char>(c);
        return byte < 0x20 || byte == 0x7F;
    });
}

// Reads one length-prefixed text at `at`, moving past it; false when it does not fit.
bool takeText(const std::uint8_t* payload, std::size_t length, std::size_t& at, std::size_t limit,
              std::string& out) {
    if (length - at < 4) {
        return false;
    }
    const std::uint64_t size = get(payload + at, 4);
    at += 4;
    if (size > limit || size > length - at) {
        return false;
    }
    out.assign(reinterpret_cast<const char*>(payload + at), size);
    at += size;
    return !hasControlBytes(out);
}

}  // namespace

void RecordPipeReader::append(const std::uint8_t* data, std::size_t length) {
    frames_.append(data, length);
}

RecordPipeReader::Result RecordPipeReader::next() {
    return frames_.nextDecoded<Result>(
        maxPayload, [this](std::uint8_t type, const std::uint8_t* payload, std::size_t length) {
            return decode(type, payload, length);
        });
}

RecordPipeReader::Result RecordPipeReader::decode(std::uint8_t type, const std::uint8_t* payload,
                                                  std::size_t length) {
    switch (type) {
        case RecordPipeFormat::kAlive:
            return length == 0 ? Result::kAlive : Result::kMalformed;
        case RecordPipeFormat::kProgress:
            if (length != RecordPipeFormat::kProgressPayload) {
                return Result::kMalformed;
            }
            progress_.written = get(payload, 8);
            progress_.recordedMicros = static_cast<std::int64_t>(get(payload + 8, 8));
            progress_.durationMicros = static_cast<std::int64_t>(get(payload + 16, 8));
            return progress_.recordedMicros >= 0 && progress_.durationMicros >= 0
                       ? Result::kProgress
                       : Result::kMalformed;
        case RecordPipeFormat::kEnd:
            return decodeEnd(payload, length) ? Result::kEnd : Result::kMalformed;
        case RecordPipeFormat::kRequest:
            return decodeRequest(payload, length) ? Result::kRequest : Result::kMalformed;
        default:
            return Result::kMalformed;
    }
}

bool RecordPipeReader::decodeRequest(const std::uint8_t* payload, std::size_t length) {
    if (length < 7) {
        return false;
    }
    const std::uint8_t kind = payload[0];
    if (kind != static_cast<std::uint8_t>(RecordKind::kHls) &&
        kind != static_cast<std::uint8_t>(RecordKind::kDash) &&
        kind != static_cast<std::uint8_t>(RecordKind::kRtsp)) {
        return false;
    }
    if (payload[1] > 1 || payload[2] > 1) {
        return false;
    }
    RecordRequest request;
    request.kind = static_cast<RecordKind>(kind);
    request.live = payload[1] == 1;
    request.seekable = payload[2] == 1;
    request.stallSeconds = static_cast<std::uint32_t>(get(payload + 3, 4));
    std::size_t at = 7;
    if (!takeText(payload, length, at, RecordPipeFormat::kMaxUrl, request.url) ||
        request.url.empty()) {
        return false;
    }
    for (std::string* text : {&request.referer, &request.userAgent, &request.caFile, &request.proxy,
                              &request.targetName}) {
        if (!takeText(payload, length, at, RecordPipeFormat::kMaxText, *text)) {
            return false;
        }
    }
    if (at != length) {
        return false;
    }
    request_ = std::move(request);
    return true;
}

bool RecordPipeReader::decodeEnd(const std::uint8_t* payload, std::size_t length) {
    if (length < 10) {
        return false;
    }
    const std::uint8_t outcome = payload[0];
    const std::uint8_t cause = payload[1];
    if (outcome < static_cast<std::uint8_t>(RecordEnding::Outcome::kRecorded) ||
        outcome > static_cast<std::uint8_t>(RecordEnding::Outcome::kLoginNeeded) ||
        cause > static_cast<std::uint8_t>(RecordEnding::Cause::kLast)) {
        return false;
    }
    ending_.outcome = static_cast<RecordEnding::Outcome>(outcome);
    ending_.cause = static_cast<RecordEnding::Cause>(cause);
    ending_.code = static_cast<std::int64_t>(get(payload + 2, 8));
    ending_.detail.assign(reinterpret_cast<const char*>(payload + 10), length - 10);
    return !hasControlBytes(ending_.detail);
}

// Feeds arbitrary bytes, in pieces of varying size, to the reader both ends of the recorder's
// pipe use: whatever it accepts is within its bounds and encodes back to the same message.
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "core/download/record/RecordPipeFormat.h"
#include "core/download/record/RecordPipeReader.h"

namespace {

bool printable(const std::string& text) {
    return std::none_of(text.begin(), text.end(),
                        [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; });
}

std::vector<std::uint8_t> reencoded(const RecordPipeReader& reader,
                                    RecordPipeReader::Result result) {
    switch (result) {
        case RecordPipeReader::Result::kRequest:
            return RecordPipeFormat::requestMessage(reader.request());
        case RecordPipeReader::Result::kProgress:
            return RecordPipeFormat::progressMessage(reader.progress());
        case RecordPipeReader::Result::kEnd:
            return RecordPipeFormat::endMessage(reader.ending());
        default:
            return RecordPipeFormat::aliveMessage();
    }
}

void check(const RecordPipeReader& reader, RecordPipeReader::Result result) {
    if (result == RecordPipeReader::Result::kRequest) {
        const RecordRequest& request = reader.request();
        if (request.url.empty() || request.url.size() > RecordPipeFormat::kMaxUrl ||
            !printable(request.url) || !printable(request.referer) ||
            !printable(request.userAgent) || request.kind == RecordKind::kNone) {
            __builtin_trap();
        }
    }
    if (result == RecordPipeReader::Result::kEnd &&
        (reader.ending().detail.size() > RecordPipeFormat::kMaxDetail ||
         !printable(reader.ending().detail))) {
        __builtin_trap();
    }
    // What was taken in is exactly what the other side would have sent.
    const std::vector<std::uint8_t> message = reencoded(reader, result);
    RecordPipeReader again;
    again.append(message.data(), message.size());
    if (again.next() != result || again.pending() != 0) {
        __builtin_trap();
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
    RecordPipeReader reader;
    for (std::size_t at = 0; at < size; at += piece) {
        reader.append(data + at, std::min(piece, size - at));
        for (auto result = reader.next(); result != RecordPipeReader::Result::kNeedMore;
             result = reader.next()) {
            if (result == RecordPipeReader::Result::kMalformed) {
                return 0;
            }
            check(reader, result);
        }
        // Never more than one unfinished message and one piece are held.
        if (reader.pending() >=
            RecordPipeFormat::kHeaderSize + RecordPipeFormat::kMaxRequestPayload + piece) {
            __builtin_trap();
        }
    }
    return 0;
}

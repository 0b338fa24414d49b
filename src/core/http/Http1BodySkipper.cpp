#include "core/http/Http1BodySkipper.h"

#include <algorithm>

#include "core/http/Http1HeadReader.h"

namespace {

// A chunk size line with extensions, and all trailer fields, are bounded like a head.
constexpr std::size_t kMaxChunkLine = 4096;
constexpr std::size_t kMaxChunkDigits = 15;

int hexValue(std::uint8_t byte) {
    if (byte >= '0' && byte <= '9') {
        return byte - '0';
    }
    if (byte >= 'a' && byte <= 'f') {
        return byte - 'a' + 10;
    }
    if (byte >= 'A' && byte <= 'F') {
        return byte - 'A' + 10;
    }
    return -1;
}

}  // namespace

void Http1BodySkipper::expectLength(std::uint64_t length) {
    step_ = Step::Counting;
    left_ = length;
}

void Http1BodySkipper::expectChunks() {
    step_ = Step::ChunkSize;
    left_ = 0;
    digits_ = 0;
    lineLength_ = 0;
    trailerLength_ = 0;
}

void Http1BodySkipper::expectUntilClose() {
    step_ = Step::UntilClose;
}

Http1BodySkipper::Result Http1BodySkipper::skip(std::span<const std::uint8_t>& bytes) {
    while (!bytes.empty()) {
        Result result = Result::NeedBytes;
        switch (step_) {
            case Step::UntilClose:
                bytes = {};
                return Result::NeedBytes;
            case Step::Counting:
                return skipCounted(bytes, Step::Counting);
            case Step::ChunkData:
                result = skipCounted(bytes, Step::ChunkDataEnd);
                break;
            default:
                result = readByte(bytes.front());
                bytes = bytes.subspan(1);
                break;
        }
        if (result != Result::NeedBytes) {
            return result;
        }
    }
    return step_ == Step::Counting && left_ == 0 ? Result::Done : Result::NeedBytes;
}

Http1BodySkipper::Result Http1BodySkipper::skipCounted(std::span<const std::uint8_t>& bytes,
                                                       Step after) {
    const std::uint64_t taken = std::min<std::uint64_t>(left_, bytes.size());
    bytes = bytes.subspan(static_cast<std::size_t>(taken));
    left_ -= taken;
    if (left_ != 0) {
        return Result::NeedBytes;
    }
    if (after == Step::Counting) {
        return Result::Done;
    }
    step_ = after;
    return Result::NeedBytes;
}

Http1BodySkipper::Result Http1BodySkipper::readByte(std::uint8_t byte) {
    switch (step_) {
        case Step::ChunkSize:
            return readChunkSize(byte);
        case Step::ChunkSizeLineEnd:
            return readChunkSizeLineEnd(byte);
        case Step::ChunkDataEnd:
            return readChunkDataEnd(byte);
        default:
            return readTrailer(byte);
    }
}

Http1BodySkipper::Result Http1BodySkipper::readChunkSize(std::uint8_t byte) {
    const int value = hexValue(byte);
    if (value < 0) {
        if (digits_ == 0) {
            return broken("chunk size is not a hexadecimal number");
        }
        step_ = Step::ChunkSizeLineEnd;
        lineLength_ = digits_;
        return readChunkSizeLineEnd(byte);
    }
    if (++digits_ > kMaxChunkDigits) {
        return broken("chunk size too large");
    }
    left_ = left_ * 16 + static_cast<std::uint64_t>(value);
    return Result::NeedBytes;
}

// Chunk extensions are passed over up to the line end.
Http1BodySkipper::Result Http1BodySkipper::readChunkSizeLineEnd(std::uint8_t byte) {
    if (byte != '\n') {
        return ++lineLength_ > kMaxChunkLine ? broken("chunk size line too long")
                                             : Result::NeedBytes;
    }
    digits_ = 0;
    lineLength_ = 0;
    step_ = left_ == 0 ? Step::Trailer : Step::ChunkData;
    return Result::NeedBytes;
}

Http1BodySkipper::Result Http1BodySkipper::readChunkDataEnd(std::uint8_t byte) {
    if (byte == '\r' && lineLength_ == 0) {
        lineLength_ = 1;
        return Result::NeedBytes;
    }
    if (byte != '\n') {
        return broken("chunk data not followed by a line end");
    }
    lineLength_ = 0;
    step_ = Step::ChunkSize;
    return Result::NeedBytes;
}

Http1BodySkipper::Result Http1BodySkipper::readTrailer(std::uint8_t byte) {
    if (++trailerLength_ > Http1HeadReader::kMaxHead) {
        return broken("chunked trailer too long");
    }
    if (byte == '\n') {
        if (lineLength_ == 0) {
            return Result::Done;
        }
        lineLength_ = 0;
    } else if (byte != '\r') {
        ++lineLength_;
    }
    return Result::NeedBytes;
}

Http1BodySkipper::Result Http1BodySkipper::broken(std::string_view why) {
    problem_ = why;
    return Result::Broken;
}

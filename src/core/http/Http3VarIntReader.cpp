#include "core/http/Http3VarIntReader.h"

bool Http3VarIntReader::take(std::span<const std::uint8_t>& bytes) {
    if (width_ == 0 && !bytes.empty()) {
        width_ = std::size_t{1} << (bytes.front() >> 6);
        value_ = bytes.front() & 0x3F;
        have_ = 1;
        bytes = bytes.subspan(1);
    }
    while (have_ < width_ && !bytes.empty()) {
        value_ = value_ << 8 | bytes.front();
        ++have_;
        bytes = bytes.subspan(1);
    }
    return width_ != 0 && have_ == width_;
}

void Http3VarIntReader::reset() {
    value_ = 0;
    have_ = 0;
    width_ = 0;
}

bool Http3VarIntReader::read(std::span<const std::uint8_t>& bytes, std::uint64_t& value) {
    Http3VarIntReader reader;
    std::span<const std::uint8_t> rest = bytes;
    if (!reader.take(rest)) {
        return false;
    }
    value = reader.value();
    bytes = rest;
    return true;
}

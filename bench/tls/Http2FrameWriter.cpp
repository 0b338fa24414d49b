#include "Http2FrameWriter.h"

#include <algorithm>

namespace {

constexpr std::string_view kPreface = "PRI * HTTP/2.0\r\n\r\nSM\r\n\r\n";
constexpr std::uint8_t kData = 0x0;
constexpr std::uint8_t kHeaders = 0x1;
constexpr std::uint8_t kSettings = 0x4;
constexpr std::uint8_t kWindowUpdate = 0x8;
constexpr std::uint8_t kEndStream = 0x1;
constexpr std::uint8_t kAck = 0x1;
constexpr std::uint8_t kEndHeaders = 0x4;
constexpr std::size_t kDeflaterTableSize = 4096;  // the HPACK default

std::uint8_t* bytesOf(std::string_view text) {
    // nghttp2 takes non-const pointers but only reads the names and values.
    return reinterpret_cast<std::uint8_t*>(const_cast<char*>(text.data()));
}

}  // namespace

Http2FrameWriter::Http2FrameWriter() {
    if (nghttp2_hd_deflate_new(&deflater_, kDeflaterTableSize) != 0) {
        deflater_ = nullptr;
    }
}

Http2FrameWriter::~Http2FrameWriter() {
    if (deflater_ != nullptr) {
        nghttp2_hd_deflate_del(deflater_);
    }
}

void Http2FrameWriter::clientPreface() {
    out_ += kPreface;
}

void Http2FrameWriter::settings(std::initializer_list<std::pair<Setting, std::uint32_t>> values) {
    frameHeader(values.size() * 6, kSettings, 0, 0);
    for (const auto& [id, value] : values) {
        out_ += static_cast<char>(id >> 8);
        out_ += static_cast<char>(id);
        put32(value);
    }
}

void Http2FrameWriter::settingsAck() {
    frameHeader(0, kSettings, kAck, 0);
}

void Http2FrameWriter::windowUpdate(std::uint32_t stream, std::uint32_t increment) {
    frameHeader(4, kWindowUpdate, 0, stream);
    put32(increment & 0x7FFFFFFFu);
}

bool Http2FrameWriter::headers(std::uint32_t stream, std::span<const Field> fields,
                               bool endStream) {
    fields_.clear();
    for (const auto& [name, value] : fields) {
        fields_.push_back(
            {bytesOf(name), bytesOf(value), name.size(), value.size(), NGHTTP2_NV_FLAG_NONE});
    }
    block_.resize(nghttp2_hd_deflate_bound(deflater_, fields_.data(), fields_.size()));
    const ssize_t length = nghttp2_hd_deflate_hd(deflater_, block_.data(), block_.size(),
                                                 fields_.data(), fields_.size());
    if (length < 0 || static_cast<std::size_t>(length) > kMaxFramePayload) {
        return false;
    }
    const auto flags = static_cast<std::uint8_t>(kEndHeaders | (endStream ? kEndStream : 0));
    frameHeader(static_cast<std::size_t>(length), kHeaders, flags, stream);
    out_.append(reinterpret_cast<const char*>(block_.data()), static_cast<std::size_t>(length));
    return true;
}

void Http2FrameWriter::data(std::uint32_t stream, std::string_view body, bool endStream) {
    do {
        const std::size_t length = std::min(body.size(), kMaxFramePayload);
        const bool last = length == body.size();
        frameHeader(length, kData, last && endStream ? kEndStream : 0, stream);
        out_.append(body.substr(0, length));
        body.remove_prefix(length);
    } while (!body.empty());
}

void Http2FrameWriter::frameHeader(std::size_t length, std::uint8_t type, std::uint8_t flags,
                                   std::uint32_t stream) {
    out_ += static_cast<char>(length >> 16);
    out_ += static_cast<char>(length >> 8);
    out_ += static_cast<char>(length);
    out_ += static_cast<char>(type);
    out_ += static_cast<char>(flags);
    put32(stream & 0x7FFFFFFFu);
}

void Http2FrameWriter::put32(std::uint32_t value) {
    out_ += static_cast<char>(value >> 24);
    out_ += static_cast<char>(value >> 16);
    out_ += static_cast<char>(value >> 8);
    out_ += static_cast<char>(value);
}

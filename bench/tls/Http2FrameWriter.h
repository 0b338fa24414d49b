#pragma once

#include <nghttp2/nghttp2.h>

#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// The HTTP/2 frames one end of a connection sends, header blocks compressed with that end's own
// HPACK deflater. Frames collect until taken.
class Http2FrameWriter {
  public:
    using Field = std::pair<std::string_view, std::string_view>;
    static constexpr std::size_t kMaxFramePayload = 16384;  // SETTINGS_MAX_FRAME_SIZE default
    enum Setting : std::uint16_t {
        kHeaderTableSize = 1,
        kEnablePush = 2,
        kMaxConcurrentStreams = 3,
        kInitialWindowSize = 4,
        kMaxFrameSize = 5,
        kMaxHeaderListSize = 6,
    };

    Http2FrameWriter();
    ~Http2FrameWriter();
    Http2FrameWriter(const Http2FrameWriter&) = delete;
    Http2FrameWriter& operator=(const Http2FrameWriter&) = delete;

    bool ok() const { return deflater_ != nullptr; }

    void clientPreface();
    void settings(std::initializer_list<std::pair<Setting, std::uint32_t>> values);
    void settingsAck();
    void windowUpdate(std::uint32_t stream, std::uint32_t increment);
    // False when the block does not fit one frame.
    bool headers(std::uint32_t stream, std::span<const Field> fields, bool endStream);
    // DATA frames of at most kMaxFramePayload bytes; END_STREAM on the last when `endStream`.
    void data(std::uint32_t stream, std::string_view body, bool endStream);

    const std::string& pending() const { return out_; }
    void clear() { out_.clear(); }

  private:
    void frameHeader(std::size_t length, std::uint8_t type, std::uint8_t flags,
                     std::uint32_t stream);
    void put32(std::uint32_t value);

    nghttp2_hd_deflater* deflater_ = nullptr;
    std::string out_;
    std::vector<nghttp2_nv> fields_;
    std::vector<std::uint8_t> block_;
};

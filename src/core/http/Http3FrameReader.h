#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/http/Http3VarIntReader.h"

// Reads one stream's HTTP/3 frames as they arrive, in any chunks. HEADERS and SETTINGS frames
// are handed out whole, each within its bound; every other frame, DATA included, is passed
// over by counting, so a body is never held.
class Http3FrameReader {
  public:
    static constexpr std::uint64_t kHeaders = 0x01;
    static constexpr std::uint64_t kSettings = 0x04;
    static constexpr std::size_t kHeadersLimit = 64 * 1024;
    static constexpr std::size_t kSettingsLimit = 4 * 1024;

    struct Frame {
        std::uint64_t type = 0;
        std::span<const std::uint8_t> payload;  // valid until the next call
    };

    // The next whole HEADERS or SETTINGS frame from the front of `bytes`, which it advances
    // past what it used; nothing when the bytes ran out or a frame broke its bound (failed()).
    std::optional<Frame> next(std::span<const std::uint8_t>& bytes);

    bool failed() const { return !failure_.empty(); }
    std::string_view failure() const { return failure_; }
    // Bytes gathered of a frame that is not whole yet.
    std::size_t held() const { return delivered_ ? 0 : payload_.size(); }

  private:
    enum class Step { Type, Length, Keep, Skip };

    void startPayload();
    std::optional<Frame> keep(std::span<const std::uint8_t>& bytes);
    void skip(std::span<const std::uint8_t>& bytes);
    void nextFrame();
    void releaseDelivered();

    Step step_ = Step::Type;
    Http3VarIntReader type_;
    Http3VarIntReader length_;
    std::uint64_t left_ = 0;
    std::vector<std::uint8_t> payload_;
    bool delivered_ = false;
    std::string failure_;
};

#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "core/http/HpackInflater.h"
#include "core/http/Http2Event.h"

// Reads one direction's HTTP/2 frames (after the client's preface) as they arrive, in any
// chunks, and decompresses its header blocks as they pass: nothing is held but the 9-byte
// frame header and a few prefix bytes. Frames without header blocks or settings are passed
// over by counting. A frame or block that breaks the protocol stops the reading.
class Http2FrameReader {
  public:
    static constexpr std::uint32_t kDefaultFrameLimit = 16 * 1024;
    static constexpr std::uint32_t kLargestFrameLimit = (1u << 24) - 1;
    static constexpr std::size_t kHeaderBlockLimit = 256 * 1024;
    // A peer may announce a table of up to 4 GiB; the decoder's table is kept to this.
    static constexpr std::size_t kTableSizeLimit = 64 * 1024;

    // The next event from the front of `bytes`, which it advances past what it used.
    Http2Event next(std::span<const std::uint8_t>& bytes);

    // The other side announced SETTINGS_MAX_FRAME_SIZE. A lower value is not applied: frames
    // already sent under the old one may still come.
    void allowFrameSize(std::uint32_t size);
    // The table size the other side announced, now acknowledged by this side.
    bool changeTableSize(std::uint32_t size);

    std::string_view failure() const { return failure_; }

  private:
    enum class Step {
        FrameHeader,
        Prefix,
        Fragment,
        BlockEnd,
        Padding,
        SettingsEntry,
        Skip,
        Failed
    };

    Http2Event startFrame();
    Http2Event startHeaderBlock();
    Http2Event startSettings();
    Http2Event beginFragment(std::size_t length, std::size_t padding);
    Http2Event inflateFragment(std::span<const std::uint8_t>& bytes);
    Http2Event finishBlock();
    Http2Event readSettingsEntry(std::span<const std::uint8_t>& bytes);
    Http2Event fail(std::string reason);
    bool hasFlag(std::uint8_t flag) const { return (flags_ & flag) != 0; }

    HpackInflater inflater_;
    Step step_ = Step::FrameHeader;
    std::array<std::uint8_t, 9> frameHeader_{};
    std::size_t frameHeaderHave_ = 0;
    std::uint32_t length_ = 0;
    std::uint8_t type_ = 0;
    std::uint8_t flags_ = 0;
    std::uint32_t stream_ = 0;
    // Pad length, priority or promised stream ahead of a block fragment; a settings entry.
    std::array<std::uint8_t, 6> fixed_{};
    std::size_t fixedWanted_ = 0;
    std::size_t fixedHave_ = 0;
    std::size_t fragmentLeft_ = 0;
    std::size_t skipLeft_ = 0;
    std::size_t paddingLeft_ = 0;
    bool blockOpen_ = false;
    bool blockEnds_ = false;
    std::uint32_t blockStream_ = 0;
    std::size_t blockBytes_ = 0;
    Http2Settings settings_;
    std::uint32_t frameLimit_ = kDefaultFrameLimit;
    std::string failure_;
};

#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string_view>

struct nghttp2_hd_inflater;

// One direction's HPACK decoder (libnghttp2's), fed a header block in as many pieces as it
// arrives in. Its dynamic table lives across blocks, so every block of the direction must
// pass through it in order.
class HpackInflater {
  public:
    // What one step of decompression gave.
    struct Step {
        bool ok = false;
        std::size_t consumed = 0;
        bool emitted = false;   // name and value hold a field, valid until the next call
        bool finished = false;  // the block is complete (only when `last` was given)
        std::string_view name;
        std::string_view value;
    };

    HpackInflater();

    bool usable() const { return inflater_ != nullptr; }

    // Decompresses from `in` up to the next field; `last` once the block has no more bytes.
    Step inflate(std::span<const std::uint8_t> in, bool last);
    // Makes ready for the next block after a finished one.
    void endBlock();
    // The table size the peer's encoder may now use (its SETTINGS_HEADER_TABLE_SIZE, acked).
    bool changeTableSize(std::size_t size);

  private:
    struct Deleter {
        void operator()(nghttp2_hd_inflater* inflater) const;
    };
    std::unique_ptr<nghttp2_hd_inflater, Deleter> inflater_;
};

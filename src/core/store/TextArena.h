#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "core/store/HugeBlock.h"

// Keeps the host and path of every row in large blocks: no allocation and no overhead per
// text, and a text never moves until clear(). An entry is found by a 32-bit reference and
// also records its row, so an index can hold references alone.
class TextArena {
  public:
    struct Entry {
        std::uint32_t row;
        std::string_view host;
        std::string_view path;
    };

    // Stores one entry (host up to 255 bytes, path up to 255 bytes) and returns its reference.
    std::uint32_t store(std::uint32_t row, std::string_view host, std::string_view path);

    Entry at(std::uint32_t reference) const;

    // True when the entry holds this host and path.
    bool matches(std::uint32_t reference, std::string_view host, std::string_view path) const;

    void clear();

    // The size of the block the arena will soon start, when it has none at hand and the
    // entries still to come (as many as `entriesToCome`, like those so far) will not fit into
    // the last one; else 0.
    std::size_t wantedBlockBytes(std::size_t entriesToCome) const;
    // Takes a zero-filled block of wantedBlockBytes(), faulted in beforehand, as the next
    // block; false (and `block` stays with the caller) when it is not wanted.
    bool giveBlock(HugeBlock& block, std::size_t entriesToCome);

  private:
    static constexpr int kOffsetBits = 21;
    static constexpr std::size_t kBlockSize = std::size_t{1} << kOffsetBits;
    static constexpr std::size_t kMaxBlocks = std::size_t{1} << (32 - kOffsetBits);

    const char* locate(std::uint32_t reference) const;

    std::vector<HugeBlock> blocks_;
    std::size_t used_ = kBlockSize;  // of the last block
    HugeBlock spare_;                // the next block, from giveBlock()
    std::size_t entries_ = 0;
};

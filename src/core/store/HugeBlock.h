#pragma once

#include <cstddef>

// A large zero-filled memory block, aligned to and advised for transparent huge pages, so that
// tables of a million rows cost few TLB misses. Move-only.
class HugeBlock {
  public:
    static constexpr std::size_t kHugePage = std::size_t{2} << 20;

    HugeBlock() = default;
    // Without `hugePages` the block is faulted in page by page as it is touched, which is
    // cheaper for a block that may stay mostly unused.
    explicit HugeBlock(std::size_t size, bool hugePages = true);
    ~HugeBlock();
    HugeBlock(HugeBlock&& other) noexcept;
    HugeBlock& operator=(HugeBlock&& other) noexcept;
    HugeBlock(const HugeBlock&) = delete;
    HugeBlock& operator=(const HugeBlock&) = delete;

    // Faults every page of a block not yet written in (zero-filled), so that later writes
    // find them present: a thread can pay for that before it takes a lock others wait on.
    void faultIn();

    void* data() const { return data_; }
    std::size_t size() const { return size_; }

  private:
    void* data_ = nullptr;
    std::size_t size_ = 0;
};

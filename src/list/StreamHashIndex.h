#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Open-addressing index from a 32-bit key hash to row numbers. Each slot carries the hash, so
// rows are only looked at when their hash is equal. Not thread-safe; its owner locks.
class StreamHashIndex {
  public:
    // The row with `hash` for which `equals(row)` holds, or -1.
    template <typename Equals>
    int find(std::uint32_t hash, Equals&& equals) const {
        if (slots_.empty()) {
            return -1;
        }
        for (std::size_t i = hash & mask_;; i = (i + 1) & mask_) {
            const Slot& slot = slots_[i];
            if (slot.rowPlusOne == 0) {
                return -1;
            }
            if (slot.hash == hash && equals(static_cast<int>(slot.rowPlusOne - 1))) {
                return static_cast<int>(slot.rowPlusOne - 1);
            }
        }
    }

    void insert(std::uint32_t hash, int row);
    void clear();
    std::size_t bytesReserved() const { return slots_.capacity() * sizeof(Slot); }

  private:
    struct Slot {
        std::uint32_t rowPlusOne;  // 0: empty
        std::uint32_t hash;
    };

    void grow();
    void place(Slot slot);

    std::vector<Slot> slots_;
    std::size_t mask_ = 0;
    std::size_t count_ = 0;
};

#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "core/store/HugeBlock.h"

// Open-addressing index from a 32-bit key hash to non-zero 32-bit values. Each slot carries
// the hash, so a value is only looked at when its hash is equal. Not thread-safe; its owner
// locks.
class StreamHashIndex {
  public:
    // The value with `hash` for which `equals(value)` holds, or 0.
    template <typename Equals>
    std::uint32_t find(std::uint32_t hash, Equals&& equals) const {
        if (count_ == 0) {
            return 0;
        }
        const Slot* table = static_cast<const Slot*>(slots_.data());
        for (std::size_t i = hash & mask_;; i = (i + 1) & mask_) {
            const Slot& slot = table[i];
            if (slot.value == 0) {
                return 0;
            }
            if (slot.hash == hash && equals(slot.value)) {
                return slot.value;
            }
        }
    }

    // Starts loading the slot `hash` goes to. Safe without the owner's lock: it reads only
    // atomics, and prefetching a stale address is harmless.
    void prefetch(std::uint32_t hash) const {
        const char* base = prefetchBase_.load(std::memory_order_relaxed);
        std::size_t mask = prefetchMask_.load(std::memory_order_relaxed);
        __builtin_prefetch(base + (hash & mask) * sizeof(Slot));
    }

    void insert(std::uint32_t hash, std::uint32_t value);
    void clear();
    // Exchanges the contents (an index built aside takes the place of this one).
    void swap(StreamHashIndex& other) noexcept;

  private:
    struct Slot {
        std::uint32_t value;  // 0: empty
        std::uint32_t hash;
    };

    void grow();
    static void place(Slot* table, std::size_t mask, Slot slot);

    void publishForPrefetch();

    HugeBlock slots_;
    std::size_t mask_ = 0;
    std::atomic<const char*> prefetchBase_{nullptr};
    std::atomic<std::size_t> prefetchMask_{0};
    std::size_t count_ = 0;
};

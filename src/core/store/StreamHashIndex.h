#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "core/store/HugeBlock.h"

// Open-addressing index from a 32-bit key hash to non-zero 32-bit values. Each slot carries
// the hash, so a value is only looked at when its hash is equal. Not thread-safe; its owner
// locks.
//
// A full table is not rehashed in one go (a million entries would hold the owner's lock for
// tens of milliseconds): a table twice the size takes over, and each insert first faults in one
// of its pages (unless the owner made it ahead, see giveTable()), then moves a few slots of the
// old one into it; until the last has moved, a lookup consults both.
class StreamHashIndex {
  public:
    // The value with `hash` for which `equals(value)` holds, or 0.
    template <typename Equals>
    std::uint32_t find(std::uint32_t hash, Equals&& equals) const {
        if (count_ == 0) {
            return 0;
        }
        std::uint32_t found = probe(slots_, mask_, hash, equals);
        if (found == 0 && old_.data() != nullptr) {
            found = probe(old_, oldMask_, hash, equals);
        }
        return found;
    }

    // Starts loading the slot `hash` goes to. Safe without the owner's lock: it reads only
    // atomics, and prefetching a stale address is harmless.
    void prefetch(std::uint32_t hash) const {
        const char* base = prefetchBase_.load(std::memory_order_relaxed);
        std::size_t mask = prefetchMask_.load(std::memory_order_relaxed);
        __builtin_prefetch(base + (hash & mask) * sizeof(Slot));
    }

    // `value` must be non-zero.
    void insert(std::uint32_t hash, std::uint32_t value);
    void clear();
    // The size of the table the next growth needs, when that growth is near (and within
    // `insertsToCome`) and no table is at hand for it; else 0.
    std::size_t wantedTableBytes(std::size_t insertsToCome) const;
    // Takes a zero-filled block of wantedTableBytes(), faulted in beforehand, for the next
    // growth; false (and `table` stays with the caller) when it is not wanted.
    bool giveTable(HugeBlock& table, std::size_t insertsToCome);
    // Exchanges the contents (an index built aside takes the place of this one).
    void swap(StreamHashIndex& other) noexcept;

  private:
    struct Slot {
        std::uint32_t value;  // 0: empty
        std::uint32_t hash;
    };

    template <typename Equals>
    static std::uint32_t probe(const HugeBlock& block, std::size_t mask, std::uint32_t hash,
                               Equals& equals) {
        const auto* table = static_cast<const Slot*>(block.data());
        for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
            const Slot& slot = table[i];
            if (slot.value == 0) {
                return 0;
            }
            if (slot.hash == hash && equals(slot.value)) {
                return slot.value;
            }
        }
    }

    void grow();
    void faultInNextPage();
    // Moves up to `count` slots of the old table into the current one.
    void migrate(std::size_t count);
    static void place(Slot* table, std::size_t mask, Slot slot);

    void publishForPrefetch();

    HugeBlock slots_;
    std::size_t mask_ = 0;
    // The table being emptied into slots_ (none when no growth is under way): its entries
    // stay in place until all have moved, so that its probe sequences stay whole.
    HugeBlock old_;
    std::size_t oldMask_ = 0;
    std::size_t moved_ = 0;    // old slots before this one are in slots_
    std::size_t faulted_ = 0;  // bytes of slots_ before this one are faulted in
    HugeBlock spare_;          // for the next growth, from giveTable()
    std::atomic<const char*> prefetchBase_{nullptr};
    std::atomic<std::size_t> prefetchMask_{0};
    std::size_t count_ = 0;
};

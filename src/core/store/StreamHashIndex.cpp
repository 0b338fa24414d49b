#include "core/store/StreamHashIndex.h"

#include <utility>

namespace {
constexpr std::size_t kInitialSlots = 1024;
}

void StreamHashIndex::insert(std::uint32_t hash, std::uint32_t value) {
    // Kept at most half full so that probes stay short.
    if (slots_.data() == nullptr || (count_ + 1) * 2 > mask_ + 1) {
        grow();
    }
    place(static_cast<Slot*>(slots_.data()), mask_, Slot{value, hash});
    ++count_;
}

void StreamHashIndex::clear() {
    slots_ = HugeBlock();
    mask_ = 0;
    count_ = 0;
    publishForPrefetch();
}

void StreamHashIndex::swap(StreamHashIndex& other) noexcept {
    std::swap(slots_, other.slots_);
    std::swap(mask_, other.mask_);
    std::swap(count_, other.count_);
    publishForPrefetch();
    other.publishForPrefetch();
}

void StreamHashIndex::publishForPrefetch() {
    prefetchBase_.store(static_cast<const char*>(slots_.data()), std::memory_order_relaxed);
    prefetchMask_.store(mask_, std::memory_order_relaxed);
}

void StreamHashIndex::grow() {
    std::size_t oldSize = slots_.data() == nullptr ? 0 : mask_ + 1;
    std::size_t size = oldSize == 0 ? kInitialSlots : oldSize * 2;
    HugeBlock next(size * sizeof(Slot));  // zero-filled: all empty
    auto* slots = static_cast<Slot*>(next.data());
    const auto* old = static_cast<const Slot*>(slots_.data());
    for (std::size_t i = 0; i < oldSize; ++i) {
        if (old[i].value != 0) {
            place(slots, size - 1, old[i]);
        }
    }
    slots_ = std::move(next);
    mask_ = size - 1;
    publishForPrefetch();
}

void StreamHashIndex::place(Slot* slots, std::size_t mask, Slot slot) {
    std::size_t i = slot.hash & mask;
    while (slots[i].value != 0) {
        i = (i + 1) & mask;
    }
    slots[i] = slot;
}

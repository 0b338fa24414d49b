#include "list/StreamHashIndex.h"

namespace {
constexpr std::size_t kInitialSlots = 1024;
}

void StreamHashIndex::insert(std::uint32_t hash, int row) {
    // Kept at most half full so that probes stay short.
    if ((count_ + 1) * 2 > slots_.size()) {
        grow();
    }
    place(Slot{static_cast<std::uint32_t>(row) + 1, hash});
    ++count_;
}

void StreamHashIndex::clear() {
    std::vector<Slot>().swap(slots_);
    mask_ = 0;
    count_ = 0;
}

void StreamHashIndex::grow() {
    std::vector<Slot> old;
    old.swap(slots_);
    std::size_t size = old.empty() ? kInitialSlots : old.size() * 2;
    slots_.assign(size, Slot{0, 0});
    mask_ = size - 1;
    for (const Slot& slot : old) {
        if (slot.rowPlusOne != 0) {
            place(slot);
        }
    }
}

void StreamHashIndex::place(Slot slot) {
    std::size_t i = slot.hash & mask_;
    while (slots_[i].rowPlusOne != 0) {
        i = (i + 1) & mask_;
    }
    slots_[i] = slot;
}

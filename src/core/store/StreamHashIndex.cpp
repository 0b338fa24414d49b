#include "core/store/StreamHashIndex.h"

#include <algorithm>
#include <utility>

namespace {
constexpr std::size_t kInitialSlots = 1024;
// Old slots moved per insert. A growth starts with the new table a quarter full and must be
// done before it is half full, which takes more than two per insert; more keeps the time
// lookups consult both tables short, while one insert still moves only a few cache lines.
constexpr std::size_t kMovesPerInsert = 32;
// A table is wanted this many inserts before the growth that needs it; only large tables are
// worth faulting in beforehand.
constexpr std::size_t kWantedAhead = 8192;
constexpr std::size_t kWantedTableBytes = HugeBlock::kHugePage;
}  // namespace

void StreamHashIndex::insert(std::uint32_t hash, std::uint32_t value) {
    if (old_.data() != nullptr) {
        if (faulted_ < slots_.size()) {
            faultInNextPage();
        } else {
            migrate(kMovesPerInsert);
        }
    }
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
    old_ = HugeBlock();
    oldMask_ = 0;
    moved_ = 0;
    faulted_ = 0;
    spare_ = HugeBlock();
    count_ = 0;
    publishForPrefetch();
}

void StreamHashIndex::swap(StreamHashIndex& other) noexcept {
    std::swap(slots_, other.slots_);
    std::swap(mask_, other.mask_);
    std::swap(old_, other.old_);
    std::swap(oldMask_, other.oldMask_);
    std::swap(moved_, other.moved_);
    std::swap(faulted_, other.faulted_);
    std::swap(spare_, other.spare_);
    std::swap(count_, other.count_);
    publishForPrefetch();
    other.publishForPrefetch();
}

std::size_t StreamHashIndex::wantedTableBytes(std::size_t insertsToCome) const {
    if (slots_.data() == nullptr || old_.data() != nullptr || spare_.data() != nullptr) {
        return 0;
    }
    const std::size_t bytes = (mask_ + 1) * 2 * sizeof(Slot);
    const std::size_t room = (mask_ + 1) / 2 - count_;  // inserts until the growth
    return bytes >= kWantedTableBytes && room <= kWantedAhead && insertsToCome > room ? bytes : 0;
}

bool StreamHashIndex::giveTable(HugeBlock& table, std::size_t insertsToCome) {
    const std::size_t wanted = wantedTableBytes(insertsToCome);
    if (wanted == 0 || table.size() < wanted) {
        return false;
    }
    spare_ = std::move(table);
    return true;
}

void StreamHashIndex::publishForPrefetch() {
    prefetchBase_.store(static_cast<const char*>(slots_.data()), std::memory_order_relaxed);
    prefetchMask_.store(mask_, std::memory_order_relaxed);
}

// The new table is filled by later inserts. Moved entries land all over it, so its pages are
// faulted in first, one per insert, unless it was given so: zeroing a huge page takes a
// millisecond or more, and all of a large table's at once would hold the lock for tens of them.
void StreamHashIndex::grow() {
    if (old_.data() != nullptr) {
        migrate(oldMask_ + 1);  // not reached with enough moves per insert
    }
    std::size_t oldSize = slots_.data() == nullptr ? 0 : mask_ + 1;
    std::size_t size = oldSize == 0 ? kInitialSlots : oldSize * 2;
    // Zero-filled: all empty. Made here (may throw, changing nothing) unless one was given.
    const bool given = spare_.size() >= size * sizeof(Slot);
    HugeBlock next = given ? std::move(spare_) : HugeBlock(size * sizeof(Slot));
    spare_ = HugeBlock();
    if (oldSize != 0) {
        old_ = std::move(slots_);
        oldMask_ = mask_;
        moved_ = 0;
        faulted_ = 0;
    }
    slots_ = std::move(next);
    mask_ = size - 1;
    if (given) {
        faulted_ = slots_.size();
    }
    publishForPrefetch();
}

// Writing a byte of a page faults it in (zeroed) without changing what it holds.
void StreamHashIndex::faultInNextPage() {
    volatile char* byte = static_cast<char*>(slots_.data()) + faulted_;
    *byte = *byte;
    faulted_ += HugeBlock::kHugePage;
}

void StreamHashIndex::migrate(std::size_t count) {
    const auto* old = static_cast<const Slot*>(old_.data());
    auto* slots = static_cast<Slot*>(slots_.data());
    const std::size_t end = std::min(moved_ + count, oldMask_ + 1);
    for (; moved_ < end; ++moved_) {
        if (old[moved_].value != 0) {
            place(slots, mask_, old[moved_]);
        }
    }
    if (moved_ == oldMask_ + 1) {
        old_ = HugeBlock();
        oldMask_ = 0;
        moved_ = 0;
    }
}

void StreamHashIndex::place(Slot* slots, std::size_t mask, Slot slot) {
    std::size_t i = slot.hash & mask;
    while (slots[i].value != 0) {
        i = (i + 1) & mask;
    }
    slots[i] = slot;
}

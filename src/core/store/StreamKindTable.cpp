#include "core/store/StreamKindTable.h"

namespace {

constexpr std::size_t kLinearKinds = 32;

}  // namespace

std::uint32_t StreamKindTable::intern(const StreamFields& record) {
    // The detector's key tells a kind seen before without a look at its texts.
    // The key's low bits tell the suffix row and the scheme apart; its high bits, the snapshot.
    KnownKind& known = knownKinds_[record.kindKey % knownKinds_.size()];
    if (record.kindKey != 0 && record.kindKey == known.key) {
        return known.kind;
    }
    const std::uint32_t kind = findOrAdd(record);
    known = {record.kindKey, kind};
    return kind;
}

std::uint32_t StreamKindTable::findOrAdd(const StreamFields& record) {
    if (lastKind_ < kinds_.size() && kinds_[lastKind_].sameAs(record)) {
        return lastKind_;
    }
    if (kinds_.size() <= kLinearKinds) {
        // Few kinds (the usual case): found by comparing the record's fields in place, without
        // building a kind or a key.
        for (std::size_t i = 0; i < kinds_.size(); ++i) {
            if (kinds_[i].sameAs(record)) {
                lastKind_ = static_cast<std::uint32_t>(i);
                return lastKind_;
            }
        }
    }
    const StreamKind kind = StreamKind::of(record);
    std::string key(kind.bytes());
    auto found = kindIndex_.find(key);
    if (found != kindIndex_.end()) {
        lastKind_ = found->second;
        return lastKind_;
    }
    lastKind_ = static_cast<std::uint32_t>(kinds_.size());
    kinds_.push_back(kind);
    kindIndex_.emplace(std::move(key), lastKind_);
    return lastKind_;
}

void StreamKindTable::clear() {
    kinds_.clear();
    kindIndex_.clear();
    lastKind_ = 0;
    knownKinds_ = {};
}

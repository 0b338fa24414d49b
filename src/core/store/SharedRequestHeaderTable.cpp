#include "core/store/SharedRequestHeaderTable.h"

#include <new>
#include <utility>

std::uint32_t SharedRequestHeaderTable::intern(const StreamFields& record) {
    // Rows seen one after another mostly come from the same client.
    if (lastEntry_ < entries_.size() && entries_[lastEntry_].users != 0 &&
        entries_[lastEntry_].sameAs(record)) {
        ++entries_[lastEntry_].users;
        return lastEntry_ + 1;
    }
    std::string joined = SharedRequestHeaders::joinedOf(record);
    auto found = index_.find(joined);
    if (found != index_.end()) {
        lastEntry_ = found->second;
        ++entries_[lastEntry_].users;
        return lastEntry_ + 1;
    }
    return internNew(std::move(joined));
}

std::uint32_t SharedRequestHeaderTable::internNew(std::string joined) {
    if (freeEntries_.empty()) {
        entries_.emplace_back();
        freeEntries_.push_back(static_cast<std::uint32_t>(entries_.size() - 1));
    }
    const std::uint32_t slot = freeEntries_.back();
    SharedRequestHeaders& entry = entries_[slot];
    entry.joined = std::move(joined);
    try {
        index_.emplace(entry.joined, slot);
    } catch (const std::bad_alloc&) {
        entry.joined.clear();
        throw;
    }
    freeEntries_.pop_back();
    entry.users = 1;
    lastEntry_ = slot;
    return slot + 1;
}

void SharedRequestHeaderTable::release(std::uint32_t reference) {
    SharedRequestHeaders& entry = entries_[reference - 1];
    if (--entry.users != 0) {
        return;
    }
    index_.erase(entry.joined);
    std::string().swap(entry.joined);
    try {
        freeEntries_.push_back(reference - 1);
    } catch (const std::bad_alloc&) {
        // The slot stays unused; nothing refers to it.
    }
}

void SharedRequestHeaderTable::fill(std::uint32_t reference, DetectedStream& out) const {
    if (reference == 0) {
        out.referer[0] = out.userAgent[0] = out.cookie[0] = '\0';
        out.httpVersion[0] = out.serverName[0] = '\0';
        return;
    }
    entries_[reference - 1].fill(out);
}

void SharedRequestHeaderTable::clear() {
    entries_.clear();
    index_.clear();
    freeEntries_.clear();
    lastEntry_ = 0;
}

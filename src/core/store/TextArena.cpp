#include "core/store/TextArena.h"

#include <algorithm>
#include <cstring>
#include <new>

// Entry layout: row (4 bytes), host length, path length, host, zero, path, zero.
namespace {
constexpr std::size_t kEntryHead = 6;
}

std::uint32_t TextArena::store(std::uint32_t row, std::string_view host, std::string_view path) {
    host = host.substr(0, std::min<std::size_t>(host.size(), 255));
    path = path.substr(0, std::min<std::size_t>(path.size(), 255));
    std::size_t needed = kEntryHead + host.size() + path.size() + 2;
    if (used_ + needed > kBlockSize) {
        if (blocks_.size() == kMaxBlocks) {
            throw std::bad_alloc();
        }
        // Filled in order: plain pages (see the store's rows).
        if (spare_.data() != nullptr) {
            blocks_.push_back(std::move(spare_));
        } else {
            blocks_.emplace_back(kBlockSize, false);
        }
        used_ = 0;
    }
    char* entry = static_cast<char*>(blocks_.back().data()) + used_;
    std::memcpy(entry, &row, 4);
    entry[4] = static_cast<char>(host.size());
    entry[5] = static_cast<char>(path.size());
    std::copy(host.begin(), host.end(), entry + kEntryHead);
    std::copy(path.begin(), path.end(), entry + kEntryHead + host.size() + 1);
    auto reference = static_cast<std::uint32_t>(((blocks_.size() - 1) << kOffsetBits) | used_);
    used_ += needed;
    ++entries_;
    return reference;
}

const char* TextArena::locate(std::uint32_t reference) const {
    return static_cast<const char*>(blocks_[reference >> kOffsetBits].data()) +
           (reference & (kBlockSize - 1));
}

TextArena::Entry TextArena::at(std::uint32_t reference) const {
    const char* entry = locate(reference);
    Entry result;
    std::memcpy(&result.row, entry, 4);
    auto hostLength = static_cast<unsigned char>(entry[4]);
    auto pathLength = static_cast<unsigned char>(entry[5]);
    result.host = std::string_view(entry + kEntryHead, hostLength);
    result.path = std::string_view(entry + kEntryHead + hostLength + 1, pathLength);
    return result;
}

bool TextArena::matches(std::uint32_t reference, std::string_view host,
                        std::string_view path) const {
    const char* entry = locate(reference);
    if (static_cast<unsigned char>(entry[4]) != host.size() ||
        static_cast<unsigned char>(entry[5]) != path.size()) {
        return false;
    }
    const char* text = entry + kEntryHead;
    return std::equal(host.begin(), host.end(), text) &&
           std::equal(path.begin(), path.end(), text + host.size() + 1);
}

void TextArena::clear() {
    blocks_.clear();
    used_ = kBlockSize;
    spare_ = HugeBlock();
    entries_ = 0;
}

// Wanted once the last block is half used: a list that fills less than half a block never
// gets one.
std::size_t TextArena::wantedBlockBytes(std::size_t entriesToCome) const {
    if (blocks_.empty() || used_ <= kBlockSize / 2 || blocks_.size() == kMaxBlocks ||
        spare_.data() != nullptr) {
        return 0;
    }
    const std::size_t stored = (blocks_.size() - 1) * kBlockSize + used_;
    const std::size_t fitting = (kBlockSize - used_) * entries_ / stored;
    return entriesToCome > fitting ? kBlockSize : 0;
}

bool TextArena::giveBlock(HugeBlock& block, std::size_t entriesToCome) {
    if (wantedBlockBytes(entriesToCome) == 0 || block.size() < kBlockSize) {
        return false;
    }
    spare_ = std::move(block);
    return true;
}

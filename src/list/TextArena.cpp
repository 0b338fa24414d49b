#include "list/TextArena.h"

#include <algorithm>

const char* TextArena::store(std::string_view first, std::string_view second) {
    std::size_t needed = first.size() + second.size() + 2;
    if (needed > left_) {
        std::size_t size = needed > kBlockSize ? needed : kBlockSize;
        blocks_.push_back(std::make_unique_for_overwrite<char[]>(size));
        next_ = blocks_.back().get();
        left_ = size;
    }
    char* start = next_;
    std::copy(first.begin(), first.end(), start);
    start[first.size()] = '\0';
    std::copy(second.begin(), second.end(), start + first.size() + 1);
    start[needed - 1] = '\0';
    next_ += needed;
    left_ -= needed;
    return start;
}

void TextArena::clear() {
    blocks_.clear();
    next_ = nullptr;
    left_ = 0;
}

#include "core/detect/WatchedPorts.h"

#include <algorithm>

bool WatchedPorts::add(std::uint16_t port) {
    if (port == 0) {
        return false;
    }
    if (contains(port)) {
        return true;
    }
    if (count_ == ports_.size()) {
        return false;
    }
    ports_[count_++] = port;
    return true;
}

bool WatchedPorts::isAdded(std::uint16_t port) const {
    std::span<const std::uint16_t> extra = added();
    return std::find(extra.begin(), extra.end(), port) != extra.end();
}

bool WatchedPorts::operator==(const WatchedPorts& other) const {
    std::span<const std::uint16_t> mine = all();
    std::span<const std::uint16_t> theirs = other.all();
    return std::equal(mine.begin(), mine.end(), theirs.begin(), theirs.end());
}

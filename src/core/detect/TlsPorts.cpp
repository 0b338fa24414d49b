#include "core/detect/TlsPorts.h"

bool TlsPorts::add(std::uint16_t port) {
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

#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

// The TCP ports whose connections are read as TLS: 443 always, and up to kMaxAdded more chosen
// by the user. Their segments are followed both ways, handshakes and all, unlike the watched
// ports of plain requests, whose segments are judged one by one.
class TlsPorts {
  public:
    static constexpr std::uint16_t kHttpsPort = 443;
    static constexpr std::size_t kMaxAdded = 16;

    // Adds `port` unless it is there already. False when `port` is 0 or the list is full.
    bool add(std::uint16_t port);

    bool contains(std::uint16_t port) const {
        for (std::size_t i = 0; i < count_; ++i) {
            if (ports_[i] == port) {
                return true;
            }
        }
        return false;
    }

    // 443 first, then the added ports in the order added.
    std::span<const std::uint16_t> all() const { return {ports_.data(), count_}; }

  private:
    std::array<std::uint16_t, 1 + kMaxAdded> ports_{kHttpsPort};
    std::size_t count_ = 1;
};

#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

// The TCP ports whose segments the detector looks at: 80, 1755 and 554 always, and up to
// kMaxAdded more chosen by the user (radio, home media servers, cameras). A small value
// copied into the decoder and the kernel filter, so both judge by the same list.
class WatchedPorts {
  public:
    static constexpr std::uint16_t kHttpPort = 80;
    static constexpr std::uint16_t kMmsPort = 1755;
    static constexpr std::uint16_t kRtspPort = 554;
    static constexpr std::size_t kAlwaysCount = 3;
    static constexpr std::size_t kMaxAdded = 16;

    WatchedPorts() = default;

    // Adds `port` unless it is watched already. False when `port` is 0 or the list is full.
    bool add(std::uint16_t port);

    // Checked for every captured packet: the three fixed ports first, then the few added.
    bool contains(std::uint16_t port) const {
        if (port == kHttpPort || port == kMmsPort || port == kRtspPort) {
            return true;
        }
        for (std::size_t i = kAlwaysCount; i < count_; ++i) {
            if (ports_[i] == port) {
                return true;
            }
        }
        return false;
    }

    // A port the user added (not one of the three).
    bool isAdded(std::uint16_t port) const;

    // Every watched port: the three fixed ones, then the added ones in the order added.
    std::span<const std::uint16_t> all() const { return {ports_.data(), count_}; }
    std::span<const std::uint16_t> added() const {
        return {ports_.data() + kAlwaysCount, count_ - kAlwaysCount};
    }

    bool operator==(const WatchedPorts& other) const;

  private:
    std::array<std::uint16_t, kAlwaysCount + kMaxAdded> ports_{kHttpPort, kMmsPort, kRtspPort};
    std::size_t count_ = kAlwaysCount;
};

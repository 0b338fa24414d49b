#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

struct TcpSegmentView;

// A connection's two endpoints in a fixed order, so that both directions find one entry.
struct FlowKey {
    // Addresses (16 bytes each) of the first and second endpoint, then their ports and the family.
    std::array<std::uint64_t, 5> words{};

    // The key of the segment's connection; `senderFirst` tells whether its sender is the first
    // endpoint.
    static FlowKey of(const TcpSegmentView& segment, bool& senderFirst);

    bool operator==(const FlowKey&) const = default;

    // Seeded, so that traffic cannot be made to land in one bucket without knowing the seed.
    struct Hash {
        std::uint64_t seed = 0;
        std::size_t operator()(const FlowKey& key) const;
    };
};

#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

// A QUIC connection ID: up to 20 bytes the receiver of a packet chose to be named by.
struct QuicConnectionId {
    static constexpr std::size_t kMaxLength = 20;

    std::array<std::uint8_t, kMaxLength> bytes{};  // zero past `length`
    std::uint8_t length = 0;

    // nullopt when longer than kMaxLength.
    static std::optional<QuicConnectionId> of(std::span<const std::uint8_t> bytes);

    std::span<const std::uint8_t> view() const { return {bytes.data(), length}; }
    bool empty() const { return length == 0; }
    bool operator==(const QuicConnectionId&) const = default;

    // Seeded: the IDs come from the network, and a guessable hash lets them share one bucket.
    struct Hash {
        std::uint64_t seed = 0;
        std::size_t operator()(const QuicConnectionId& id) const;
    };
};

#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "core/quic/QuicPacketType.h"

// What differs between the QUIC versions read here (1 and 2): the salt of the Initial keys, the
// labels of the packet keys and the bits that name the long header packet types.
struct QuicVersion {
    static constexpr std::uint32_t kV1 = 0x00000001;
    static constexpr std::uint32_t kV2 = 0x6B3343CF;
    static constexpr std::size_t kSaltLength = 20;

    std::uint32_t wire;
    std::array<std::uint8_t, kSaltLength> initialSalt;
    const char* keyLabel;
    const char* ivLabel;
    const char* hpLabel;
    const char* updateLabel;
    std::array<QuicPacketType, 4> longTypes;  // by the type bits of the first byte

    // The long header packet type of a first byte (its bits 0x30).
    QuicPacketType longType(std::uint8_t firstByte) const { return longTypes[firstByte >> 4 & 3]; }

    // The version numbered `wire`; nullptr when it is not read here.
    static const QuicVersion* find(std::uint32_t wire);
};

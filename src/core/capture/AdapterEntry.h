#pragma once

#include <cstddef>
#include <cstdint>

// One IPv4 address of one adapter. Byte-packed: the detector copies the 64 bytes that start
// at `physAddress` into each record, so the layout is part of the record format.
#pragma pack(push, 1)
struct AdapterEntry {
    static constexpr std::size_t kPhysAddressCapacity = 14;
    static constexpr std::size_t kDescriptionCapacity = 257;

    std::int32_t ifType;
    std::uint8_t physAddressLength;
    std::uint8_t physAddress[kPhysAddressCapacity];
    std::uint8_t address[4];  // network byte order
    std::uint8_t netMask[4];  // network byte order
    char description[kDescriptionCapacity];
};
#pragma pack(pop)

static_assert(sizeof(AdapterEntry) == 4 + 1 + 14 + 4 + 4 + 257);
static_assert(offsetof(AdapterEntry, physAddress) == 5);

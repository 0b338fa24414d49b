#pragma once

#include <cstddef>
#include <cstdint>

// One IPv4 address of one adapter, or an adapter that has only IPv6 addresses (`address`
// zero). Byte-packed: the detector copies the 64 bytes that start at `physAddress` into each
// record, so the layout is part of the record format; later fields lie beyond those bytes.
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
    std::uint8_t address6[16];  // the adapter's first global IPv6 address; zero when none
};
#pragma pack(pop)

static_assert(sizeof(AdapterEntry) == 4 + 1 + 14 + 4 + 4 + 257 + 16);
static_assert(offsetof(AdapterEntry, physAddress) == 5);
static_assert(offsetof(AdapterEntry, address6) >= offsetof(AdapterEntry, physAddress) + 64);

// Whether the entry stands for an adapter without IPv4, by its IPv6 address.
inline bool IsIpv6Only(const AdapterEntry& entry) {
    return entry.address[0] == 0 && entry.address[1] == 0 && entry.address[2] == 0 &&
           entry.address[3] == 0;
}

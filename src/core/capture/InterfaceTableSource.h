#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The two tables the adapter list is built from: the interfaces table (with each interface's
// first global IPv6 address) and the IPv4 address table, with the columns the adapter list
// uses. Implemented over the platform's interface
// enumeration; tests feed synthetic tables.
class InterfaceTableSource {
  public:
    struct InterfaceRow {
        std::uint32_t ifIndex = 0;
        std::int32_t ifType = 1;  // IANA ifType
        std::vector<std::uint8_t> physAddress;
        std::string description;
        bool hasIpv6 = false;
        std::uint8_t firstGlobalIpv6[16] = {};  // network byte order
    };

    struct AddressRow {
        std::uint8_t address[4] = {};  // network byte order
        std::uint32_t ifIndex = 0;
        std::uint8_t netMask[4] = {};  // network byte order
    };

    virtual ~InterfaceTableSource() = default;

    // Reads both tables afresh. Returns false when the platform cannot enumerate interfaces.
    // The address table comes sorted by address.
    virtual bool Read(std::vector<InterfaceRow>& interfaces,
                      std::vector<AddressRow>& addresses) = 0;
};

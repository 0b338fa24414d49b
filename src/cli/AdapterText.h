#pragma once

#include <optional>
#include <string>
#include <vector>

#include "core/capture/AdapterEntry.h"

// Texts of adapter entries for the command line, and the choice of one by --adapter.
class AdapterText {
  public:
    static std::string PhysAddress(const AdapterEntry& entry);  // "52:54:00:12:34:56"
    static std::string Ipv4(const std::uint8_t* address);       // "10.0.2.15"
    static std::string Ipv6(const std::uint8_t* address);       // "2001:db8::1", "" when zero
    // The address the entry is known by: IPv4, or IPv6 for an adapter without IPv4.
    static std::string Address(const AdapterEntry& entry);
    static std::string Description(const AdapterEntry& entry);
    static std::string JsonLine(const AdapterEntry& entry, int index);
    static std::string PlainLine(const AdapterEntry& entry, int index);

    // The entry chosen by `wanted` (index, interface name, IPv4 address, or IPv6 address in
    // any of its written forms); without it the only entry. nullopt with `error` set when there is
    // no such entry, none at all, or several and no choice.
    static std::optional<int> Choose(const std::vector<AdapterEntry>& entries,
                                     const std::optional<std::string>& wanted, std::string& error);
};

#pragma once

#include "core/capture/InterfaceTableSource.h"

// The machine's own interfaces: getifaddrs (link-level, IPv4 and IPv6 entries) plus /sys/class/net
// to tell wireless from wired Ethernet.
class SystemInterfaceTable : public InterfaceTableSource {
  public:
    bool Read(std::vector<InterfaceRow>& interfaces, std::vector<AddressRow>& addresses) override;

    // IANA ifType for a Linux hardware type (ARPHRD_*) of interface `name`.
    static std::int32_t IanaType(unsigned short hardwareType, const std::string& name);

    // The interface that holds IPv4 `address` (4 bytes, network order), and whether it is up.
    // False when no interface holds it.
    static bool FindInterfaceOf(const std::uint8_t* address, std::string& name, bool& up);
    // The same for IPv6 `address` (16 bytes, network order).
    static bool FindInterfaceOfIpv6(const std::uint8_t* address, std::string& name, bool& up);

    // An address a stream from elsewhere can reach the interface by: not loopback, link-local,
    // site-local, multicast or unspecified.
    static bool IsGlobalIpv6(const std::uint8_t* address);
};

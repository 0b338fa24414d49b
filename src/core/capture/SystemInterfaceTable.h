#pragma once

#include "core/capture/InterfaceTableSource.h"

// The machine's own interfaces: getifaddrs (link-level and IPv4 entries) plus /sys/class/net
// to tell wireless from wired Ethernet.
class SystemInterfaceTable : public InterfaceTableSource {
  public:
    bool Read(std::vector<InterfaceRow>& interfaces, std::vector<AddressRow>& addresses) override;

    // IANA ifType for a Linux hardware type (ARPHRD_*) of interface `name`.
    static std::int32_t IanaType(unsigned short hardwareType, const std::string& name);

    // The interface that holds IPv4 `address` (4 bytes, network order), and whether it is up.
    // False when no interface holds it.
    static bool FindInterfaceOf(const std::uint8_t* address, std::string& name, bool& up);
};

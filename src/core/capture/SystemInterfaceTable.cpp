#include "core/capture/SystemInterfaceTable.h"

#include <ifaddrs.h>
#include <net/if.h>
#include <net/if_arp.h>
#include <netinet/in.h>
#include <netpacket/packet.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <map>

namespace {

constexpr std::int32_t kIfTypeOther = 1;
constexpr std::int32_t kIfTypeEthernet = 6;
constexpr std::int32_t kIfTypePpp = 23;
constexpr std::int32_t kIfTypeLoopback = 24;
constexpr std::int32_t kIfTypeIeee80211 = 71;
constexpr std::int32_t kIfTypeTunnel = 131;

bool pathExists(const std::string& path) {
    struct stat info;
    return ::stat(path.c_str(), &info) == 0;
}

bool isWireless(const std::string& name) {
    std::string base = "/sys/class/net/" + name;
    return pathExists(base + "/wireless") || pathExists(base + "/phy80211");
}

// An IPv4 entry may carry an address label ("eth0:1"); the interface is the part before ':'.
std::string interfaceName(const char* label) {
    std::string name = label ? label : "";
    std::size_t colon = name.find(':');
    return colon == std::string::npos ? name : name.substr(0, colon);
}

void copyAddress(const sockaddr* address, std::uint8_t (&out)[4]) {
    if (address && address->sa_family == AF_INET) {
        const auto* in = reinterpret_cast<const sockaddr_in*>(address);
        std::memcpy(out, &in->sin_addr.s_addr, 4);
    }
}

const std::uint8_t* ipv6Bytes(const sockaddr* address) {
    if (address == nullptr || address->sa_family != AF_INET6) {
        return nullptr;
    }
    return reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr.s6_addr;
}

}  // namespace

bool SystemInterfaceTable::IsGlobalIpv6(const std::uint8_t* a) {
    static constexpr std::uint8_t kZero[16] = {};
    bool unspecifiedOrLoopback = std::memcmp(a, kZero, 15) == 0 && a[15] <= 1;
    bool multicast = a[0] == 0xFF;
    bool linkOrSiteLocal = a[0] == 0xFE && (a[1] & 0x80) == 0x80;  // fe80::/10, fec0::/10
    return !unspecifiedOrLoopback && !multicast && !linkOrSiteLocal;
}

std::int32_t SystemInterfaceTable::IanaType(unsigned short hardwareType, const std::string& name) {
    switch (hardwareType) {
        case ARPHRD_ETHER:
            return isWireless(name) ? kIfTypeIeee80211 : kIfTypeEthernet;
        case ARPHRD_IEEE80211:
        case ARPHRD_IEEE80211_PRISM:
        case ARPHRD_IEEE80211_RADIOTAP:
            return kIfTypeIeee80211;
        case ARPHRD_LOOPBACK:
            return kIfTypeLoopback;
        case ARPHRD_PPP:
            return kIfTypePpp;
        case ARPHRD_TUNNEL:
        case ARPHRD_TUNNEL6:
        case ARPHRD_SIT:
        case ARPHRD_IPGRE:
        case ARPHRD_NONE:  // tun devices, WireGuard
            return kIfTypeTunnel;
        default:
            return kIfTypeOther;
    }
}

bool SystemInterfaceTable::Read(std::vector<InterfaceRow>& interfaces,
                                std::vector<AddressRow>& addresses) {
    interfaces.clear();
    addresses.clear();
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) {
        return false;
    }
    std::map<std::string, std::uint32_t> indexByName;
    for (const ifaddrs* entry = list; entry; entry = entry->ifa_next) {
        if (!entry->ifa_addr || entry->ifa_addr->sa_family != AF_PACKET || !entry->ifa_name) {
            continue;
        }
        const auto* link = reinterpret_cast<const sockaddr_ll*>(entry->ifa_addr);
        InterfaceRow row;
        row.ifIndex = static_cast<std::uint32_t>(link->sll_ifindex);
        row.description = entry->ifa_name;
        row.ifType = IanaType(link->sll_hatype, row.description);
        std::size_t length = std::min<std::size_t>(link->sll_halen, sizeof link->sll_addr);
        row.physAddress.assign(link->sll_addr, link->sll_addr + length);
        indexByName[row.description] = row.ifIndex;
        interfaces.push_back(std::move(row));
    }
    for (const ifaddrs* entry = list; entry; entry = entry->ifa_next) {
        if (!entry->ifa_addr || entry->ifa_addr->sa_family != AF_INET) {
            continue;
        }
        AddressRow row;
        std::string name = interfaceName(entry->ifa_name);
        auto known = indexByName.find(name);
        row.ifIndex = known != indexByName.end() ? known->second : ::if_nametoindex(name.c_str());
        copyAddress(entry->ifa_addr, row.address);
        copyAddress(entry->ifa_netmask, row.netMask);
        addresses.push_back(row);
    }
    for (const ifaddrs* entry = list; entry; entry = entry->ifa_next) {
        const std::uint8_t* address = ipv6Bytes(entry->ifa_addr);
        if (address == nullptr || !IsGlobalIpv6(address) || !entry->ifa_name) {
            continue;
        }
        auto row = std::find_if(interfaces.begin(), interfaces.end(),
                                [&](const auto& r) { return r.description == entry->ifa_name; });
        if (row != interfaces.end() && !row->hasIpv6) {
            row->hasIpv6 = true;
            std::memcpy(row->firstGlobalIpv6, address, 16);
        }
    }
    ::freeifaddrs(list);

    std::sort(interfaces.begin(), interfaces.end(),
              [](const InterfaceRow& a, const InterfaceRow& b) { return a.ifIndex < b.ifIndex; });
    std::stable_sort(addresses.begin(), addresses.end(),
                     [](const AddressRow& a, const AddressRow& b) {
                         return std::memcmp(a.address, b.address, 4) < 0;
                     });
    return true;
}

namespace {

// The first interface with an address that `matches`; its name and whether it is up.
template <typename Matches>
bool findInterface(Matches matches, std::string& name, bool& up) {
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) {
        return false;
    }
    bool found = false;
    for (const ifaddrs* entry = list; entry && !found; entry = entry->ifa_next) {
        if (entry->ifa_addr != nullptr && entry->ifa_name != nullptr && matches(entry->ifa_addr)) {
            found = true;
            name = interfaceName(entry->ifa_name);
            up = (entry->ifa_flags & IFF_UP) != 0;
        }
    }
    ::freeifaddrs(list);
    return found;
}

}  // namespace

bool SystemInterfaceTable::FindInterfaceOf(const std::uint8_t* address, std::string& name,
                                           bool& up) {
    return findInterface(
        [address](const sockaddr* candidate) {
            if (candidate->sa_family != AF_INET) {
                return false;
            }
            std::uint8_t bytes[4] = {};
            copyAddress(candidate, bytes);
            return std::memcmp(bytes, address, 4) == 0;
        },
        name, up);
}

bool SystemInterfaceTable::FindInterfaceOfIpv6(const std::uint8_t* address, std::string& name,
                                               bool& up) {
    return findInterface(
        [address](const sockaddr* candidate) {
            const std::uint8_t* bytes = ipv6Bytes(candidate);
            return bytes != nullptr && std::memcmp(bytes, address, 16) == 0;
        },
        name, up);
}

#include "core/capture/CSnmpAdapterList.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "core/capture/SystemInterfaceTable.h"

namespace {

using InterfaceRow = InterfaceTableSource::InterfaceRow;
using AddressRow = InterfaceTableSource::AddressRow;

class SyntheticTables : public InterfaceTableSource {
  public:
    bool Read(std::vector<InterfaceRow>& interfacesOut,
              std::vector<AddressRow>& addressesOut) override {
        interfacesOut = interfaces;
        addressesOut = addresses;
        return readable;
    }

    std::vector<InterfaceRow> interfaces;
    std::vector<AddressRow> addresses;
    bool readable = true;
};

InterfaceRow interfaceRow(std::uint32_t index, std::int32_t type, std::vector<std::uint8_t> phys,
                          std::string description) {
    return InterfaceRow{index, type, std::move(phys), std::move(description)};
}

AddressRow addressRow(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d,
                      std::uint32_t ifIndex) {
    AddressRow row;
    std::uint8_t address[4] = {a, b, c, d};
    std::memcpy(row.address, address, 4);
    row.ifIndex = ifIndex;
    std::uint8_t mask[4] = {255, 255, 255, 0};
    std::memcpy(row.netMask, mask, 4);
    return row;
}

const std::vector<std::uint8_t> kEthernetMac = {0x52, 0x54, 0x00, 0x12, 0x34, 0x56};
const std::vector<std::uint8_t> kWifiMac = {0x02, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE};
const std::vector<std::uint8_t> kDialUp = {'D', 'E', 'S', 'T', 0x00, 0x01};

// A typical machine: loopback, a wired adapter with two addresses, a dial-up link, a tunnel
// without hardware address and an adapter with an all-zero address. The address table is
// sorted by address, so the adapters interleave.
SyntheticTables typicalMachine() {
    SyntheticTables tables;
    tables.interfaces = {
        interfaceRow(1, 24, {0, 0, 0, 0, 0, 0}, "lo"),
        interfaceRow(2, 6, kEthernetMac, "eth0"),
        interfaceRow(3, 23, kDialUp, "ppp0"),
        interfaceRow(4, 131, {}, "tun0"),
        interfaceRow(5, 6, {0, 0, 0, 0, 0, 0}, "dummy0"),
        interfaceRow(6, 71, kWifiMac, "wlan0"),
    };
    tables.addresses = {
        addressRow(10, 0, 2, 15, 2),    addressRow(10, 8, 0, 1, 4),
        addressRow(10, 9, 0, 1, 5),     addressRow(127, 0, 0, 1, 1),
        addressRow(172, 16, 0, 9, 2),   addressRow(192, 168, 1, 20, 6),
        addressRow(198, 51, 100, 7, 3),
    };
    return tables;
}

std::vector<AdapterEntry> listAdapters(SyntheticTables& tables, bool dialUp, bool noPhys) {
    CSnmpAdapterList list(tables);
    EXPECT_EQ(list.Initialise(), 0);
    int count = list.Walk(dialUp, noPhys);
    std::vector<AdapterEntry> out(static_cast<std::size_t>(count) + 4);
    int written = list.Compact(out.data(), static_cast<int>(out.size()));
    EXPECT_EQ(written, count) << "Walk's count must match what Compact writes";
    out.resize(static_cast<std::size_t>(written));
    return out;
}

std::vector<std::string> describe(const std::vector<AdapterEntry>& entries) {
    std::vector<std::string> result;
    for (const AdapterEntry& e : entries) {
        result.push_back(std::string(e.description) + " " + std::to_string(e.address[0]) + "." +
                         std::to_string(e.address[1]) + "." + std::to_string(e.address[2]) + "." +
                         std::to_string(e.address[3]));
    }
    return result;
}

}  // namespace

TEST(CSnmpAdapterList, OneEntryPerAddressInAddressOrderWithTheProgramsFlags) {
    SyntheticTables tables = typicalMachine();
    auto entries = listAdapters(tables, true, false);
    // Loopback (zero address), tun0 (no address) and dummy0 (six zeros) are dropped; eth0 is
    // listed once per address; the dial-up link is kept.
    EXPECT_EQ(describe(entries),
              (std::vector<std::string>{"eth0 10.0.2.15", "eth0 172.16.0.9", "wlan0 192.168.1.20",
                                        "ppp0 198.51.100.7"}));
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_EQ(entries[0].ifType, 6);
    EXPECT_EQ(entries[0].physAddressLength, 6);
    EXPECT_EQ(std::memcmp(entries[0].physAddress, kEthernetMac.data(), 6), 0);
    EXPECT_EQ(entries[0].netMask[0], 255);
    EXPECT_EQ(entries[0].netMask[3], 0);
    EXPECT_EQ(std::memcmp(&entries[0], &entries[1], offsetof(AdapterEntry, address)), 0);
    EXPECT_EQ(entries[3].ifType, 23);
}

TEST(CSnmpAdapterList, FlagsDecideDialUpAndAddresslessAdapters) {
    struct Case {
        bool dialUp;
        bool noPhys;
        std::vector<std::string> expected;
    } cases[] = {
        {false, false, {"eth0 10.0.2.15", "eth0 172.16.0.9", "wlan0 192.168.1.20"}},
        {true,
         true,
         {"eth0 10.0.2.15", "tun0 10.8.0.1", "eth0 172.16.0.9", "wlan0 192.168.1.20",
          "ppp0 198.51.100.7"}},
    };
    for (const Case& c : cases) {
        SyntheticTables tables = typicalMachine();
        EXPECT_EQ(describe(listAdapters(tables, c.dialUp, c.noPhys)), c.expected)
            << c.dialUp << c.noPhys;
    }
}

TEST(CSnmpAdapterList, UnmatchedRowsAndUnevenTablesStayInBounds) {
    // More addresses than interfaces, an address whose interface row is missing, and an
    // interface table longer than the address table.
    SyntheticTables tables;
    tables.interfaces = {interfaceRow(7, 6, kEthernetMac, "eth1")};
    for (std::uint8_t i = 1; i <= 5; ++i) {
        tables.addresses.push_back(addressRow(10, 1, 0, i, 7));
    }
    tables.addresses.push_back(addressRow(10, 2, 0, 1, 99));  // no interface 99
    auto entries = listAdapters(tables, true, false);
    EXPECT_EQ(entries.size(), 5u);

    SyntheticTables sparse = typicalMachine();
    sparse.addresses = {addressRow(10, 0, 2, 15, 2)};
    EXPECT_EQ(describe(listAdapters(sparse, true, false)),
              (std::vector<std::string>{"eth0 10.0.2.15"}));

    // Compact never writes more than it is given room for.
    CSnmpAdapterList list(tables);
    ASSERT_EQ(list.Initialise(), 0);
    ASSERT_EQ(list.Walk(true, false), 5);
    AdapterEntry out[3];
    AdapterEntry guard;
    std::memset(&guard, 0x5A, sizeof guard);
    out[2] = guard;
    EXPECT_EQ(list.Compact(out, 2), 2);
    EXPECT_EQ(std::memcmp(&out[2], &guard, sizeof guard), 0);
}

TEST(CSnmpAdapterList, LongDescriptionsAndHardwareAddressesAreCut) {
    SyntheticTables tables;
    std::vector<std::uint8_t> infiniband(20);
    for (std::size_t i = 0; i < infiniband.size(); ++i) {
        infiniband[i] = static_cast<std::uint8_t>(0x80 + i);
    }
    tables.interfaces = {interfaceRow(3, 1, infiniband, std::string(400, 'd'))};
    tables.addresses = {addressRow(10, 3, 0, 1, 3)};
    auto entries = listAdapters(tables, true, false);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].physAddressLength, AdapterEntry::kPhysAddressCapacity);
    EXPECT_EQ(std::memcmp(entries[0].physAddress, infiniband.data(), 14), 0);
    EXPECT_EQ(std::strlen(entries[0].description), 255u);
    EXPECT_EQ(entries[0].description[256], 0);
}

TEST(CSnmpAdapterList, InitialiseReportsAnUnreadableSource) {
    SyntheticTables tables = typicalMachine();
    tables.readable = false;
    CSnmpAdapterList list(tables);
    EXPECT_EQ(list.Initialise(), -3);
    EXPECT_EQ(list.Walk(true, false), 0);
    std::vector<AdapterEntry> out;
    EXPECT_EQ(CSnmpAdapterList::ListAdapters(tables, out), -3);
    EXPECT_TRUE(out.empty());
}

TEST(SystemInterfaceTable, ReadsThisMachinesLoopback) {
    SystemInterfaceTable table;
    std::vector<InterfaceRow> interfaces;
    std::vector<AddressRow> addresses;
    ASSERT_TRUE(table.Read(interfaces, addresses));
    bool sawLoopback = false;
    for (const auto& row : interfaces) {
        if (row.description == "lo") {
            sawLoopback = true;
            EXPECT_EQ(row.ifType, 24);
        }
    }
    EXPECT_TRUE(sawLoopback);
    for (std::size_t i = 1; i < addresses.size(); ++i) {
        EXPECT_LE(std::memcmp(addresses[i - 1].address, addresses[i].address, 4), 0);
    }
    std::vector<AdapterEntry> entries;
    ASSERT_GE(CSnmpAdapterList::ListAdapters(table, entries), 0);
    for (const AdapterEntry& e : entries) {
        EXPECT_NE(e.address[0], 127) << "loopback must not be listed";
    }
}

TEST(SystemInterfaceTable, HardwareTypesMapToIanaIfTypes) {
    struct Case {
        unsigned short hardwareType;
        std::int32_t ifType;
    } cases[] = {
        {1, 6},         // ARPHRD_ETHER, no wireless directory for this name
        {772, 24},      // ARPHRD_LOOPBACK
        {512, 23},      // ARPHRD_PPP
        {768, 131},     // ARPHRD_TUNNEL
        {776, 131},     // ARPHRD_SIT
        {0xFFFE, 131},  // ARPHRD_NONE (tun)
        {801, 71},      // ARPHRD_IEEE80211
        {32, 1},        // ARPHRD_INFINIBAND: other
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SystemInterfaceTable::IanaType(c.hardwareType, "qvx-no-such-if"), c.ifType)
            << c.hardwareType;
    }
}

TEST(CSnmpAdapterList, AdaptersWithOnlyIpv6AreListedByTheirFirstGlobalAddress) {
    SyntheticTables tables = typicalMachine();
    const std::uint8_t global[16] = {0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 7};
    auto withIpv6 = [&](std::uint32_t ifIndex, std::uint8_t last) {
        for (InterfaceRow& row : tables.interfaces) {
            if (row.ifIndex == ifIndex) {
                row.hasIpv6 = true;
                std::memcpy(row.firstGlobalIpv6, global, 16);
                row.firstGlobalIpv6[15] = last;
            }
        }
    };
    tables.interfaces.push_back(interfaceRow(7, 6, {0x02, 0, 0, 0, 0, 7}, "v6only"));
    tables.interfaces.push_back(interfaceRow(8, 6, {0x02, 0, 0, 0, 0, 8}, "noaddress"));
    withIpv6(7, 7);
    withIpv6(2, 2);  // eth0 has IPv4 as well: listed by IPv4, carrying its IPv6 address
    withIpv6(5, 5);  // dummy0 does not pass the filter
    auto entries = listAdapters(tables, true, false);
    EXPECT_EQ(describe(entries),
              (std::vector<std::string>{"eth0 10.0.2.15", "eth0 172.16.0.9", "wlan0 192.168.1.20",
                                        "ppp0 198.51.100.7", "v6only 0.0.0.0"}));
    ASSERT_EQ(entries.size(), 5u);
    EXPECT_TRUE(IsIpv6Only(entries[4]));
    EXPECT_EQ(entries[4].address6[15], 7);
    EXPECT_EQ(entries[0].address6[15], 2);
    EXPECT_FALSE(IsIpv6Only(entries[0]));
}

TEST(SystemInterfaceTable, GlobalIpv6AddressesAreTheReachableOnes) {
    struct Case {
        const char* text;
        bool global;
    } cases[] = {{"2001:db8::1", true}, {"fd00::5", true},  {"::ffff:10.0.0.1", true},
                 {"fe80::1", false},    {"fec0::1", false}, {"ff02::1", false},
                 {"::1", false},        {"::", false}};
    for (const Case& c : cases) {
        std::uint8_t address[16];
        ASSERT_EQ(inet_pton(AF_INET6, c.text, address), 1);
        EXPECT_EQ(SystemInterfaceTable::IsGlobalIpv6(address), c.global) << c.text;
    }
}

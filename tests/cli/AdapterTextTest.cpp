#include "cli/AdapterText.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

AdapterEntry entry(const char* name, std::uint8_t lastByte) {
    AdapterEntry e{};
    e.ifType = 6;
    e.physAddressLength = 6;
    const std::uint8_t mac[6] = {0x52, 0x54, 0x00, 0x12, 0x34, 0x56};
    std::memcpy(e.physAddress, mac, 6);
    const std::uint8_t address[4] = {10, 0, 2, lastByte};
    const std::uint8_t mask[4] = {255, 255, 255, 0};
    std::memcpy(e.address, address, 4);
    std::memcpy(e.netMask, mask, 4);
    std::strcpy(e.description, name);
    return e;
}

}  // namespace

TEST(AdapterText, JsonLineHasTheDocumentedForm) {
    EXPECT_EQ(AdapterText::JsonLine(entry("eth0", 15), 0),
              R"({"index":0,"ifType":6,"physAddress":"52:54:00:12:34:56",)"
              R"("address":"10.0.2.15","mask":"255.255.255.0","address6":"",)"
              R"("description":"eth0"})");
}

TEST(AdapterText, ChoosesByIndexNameOrAddress) {
    std::vector<AdapterEntry> entries = {entry("eth0", 15), entry("eth0", 16), entry("wlan0", 9)};
    struct Case {
        std::optional<std::string> wanted;
        std::optional<int> expected;
    } cases[] = {
        {"1", 1},
        {"2", 2},
        {"wlan0", 2},
        {"10.0.2.16", 1},
        {"eth0", 0},
        {"3", std::nullopt},
        {"eth9", std::nullopt},
        {"", std::nullopt},
        {std::nullopt, std::nullopt},
    };
    for (const Case& c : cases) {
        std::string error;
        EXPECT_EQ(AdapterText::Choose(entries, c.wanted, error), c.expected)
            << c.wanted.value_or("(none)");
        EXPECT_EQ(error.empty(), c.expected.has_value()) << error;
    }
    std::string error;
    AdapterText::Choose(entries, std::nullopt, error);
    EXPECT_NE(error.find("1=eth0(10.0.2.16)"), std::string::npos) << "the error lists them";

    std::vector<AdapterEntry> one = {entry("eth0", 15)};
    EXPECT_EQ(AdapterText::Choose(one, std::nullopt, error), 0) << "the only adapter";
    EXPECT_EQ(AdapterText::Choose({}, std::nullopt, error), std::nullopt);
}

TEST(AdapterText, AnAdapterWithOnlyIpv6IsShownAndChosenByIt) {
    AdapterEntry v6 = entry("v6only", 0);
    std::memset(v6.address, 0, 4);
    std::memset(v6.netMask, 0, 4);
    const std::uint8_t address6[16] = {0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    std::memcpy(v6.address6, address6, 16);
    AdapterEntry dual = entry("eth0", 15);
    std::memcpy(dual.address6, address6, 16);
    dual.address6[15] = 2;
    EXPECT_EQ(AdapterText::Address(v6), "2001:db8::1");
    EXPECT_EQ(AdapterText::PlainLine(v6, 3),
              "3\tv6only\t2001:db8::1\t-\t52:54:00:12:34:56\ttype 6");
    EXPECT_NE(AdapterText::JsonLine(v6, 3).find(R"("address6":"2001:db8::1")"), std::string::npos);

    std::vector<AdapterEntry> entries = {dual, v6};
    struct Case {
        std::string wanted;
        std::optional<int> expected;
    } cases[] = {{"2001:db8::1", 1},
                 {"2001:0db8:0:0::0001", 1},
                 {"2001:db8::2", 0},
                 {"0.0.0.0", std::nullopt},
                 {"2001:db8::3", std::nullopt}};
    for (const Case& c : cases) {
        std::string error;
        EXPECT_EQ(AdapterText::Choose(entries, c.wanted, error), c.expected) << c.wanted;
    }
    std::string error;
    AdapterText::Choose(entries, std::nullopt, error);
    EXPECT_NE(error.find("1=v6only(2001:db8::1)"), std::string::npos) << error;
}

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
              R"("address":"10.0.2.15","mask":"255.255.255.0","description":"eth0"})");
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

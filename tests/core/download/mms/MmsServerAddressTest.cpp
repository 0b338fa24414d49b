#include "core/download/mms/MmsServerAddress.h"

#include <gtest/gtest.h>

namespace {

struct AddressCase {
    const char* host;
    const char* name;  // nullptr: refused
    std::uint16_t port;
};

TEST(MmsServerAddress, NameAndPortByScheme) {
    const AddressCase cases[] = {
        {"mms://media.example", "media.example", 1755},
        {"mmst://media.example", "media.example", 1755},
        {"mmsu://media.example:8080", "media.example", 8080},
        {"msst://media.example", "media.example", 1755},
        {"MMS://Media.Example", "Media.Example", 1755},
        {"mms://10.0.0.5:1755/ignored/path", "10.0.0.5", 1755},
        {"mms://[::1]:99", "::1", 99},
        {"mms://[::1]", "::1", 1755},
        {"bare.example", "bare.example", 1755},
        {"bare.example:65535", "bare.example", 65535},
        {"http://media.example", nullptr, 0},
        {"rtsp://media.example", nullptr, 0},
        {"mms://", nullptr, 0},
        {"mms://:1755", nullptr, 0},
        {"mms://h:0", nullptr, 0},
        {"mms://h:65536", nullptr, 0},
        {"mms://h:", nullptr, 0},
        {"mms://h:12ab", nullptr, 0},
        {"mms://[::1", nullptr, 0},
        {"mms://[::1]x", nullptr, 0},
        {"", nullptr, 0},
    };
    for (const AddressCase& c : cases) {
        auto address = MmsServerAddress::FromHost(c.host);
        if (c.name == nullptr) {
            EXPECT_FALSE(address.has_value()) << c.host;
            continue;
        }
        ASSERT_TRUE(address.has_value()) << c.host;
        EXPECT_EQ(address->name, c.name) << c.host;
        EXPECT_EQ(address->port, c.port) << c.host;
    }
}

}  // namespace

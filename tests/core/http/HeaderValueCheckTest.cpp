#include "core/http/HeaderValueCheck.h"

#include <gtest/gtest.h>

#include <string>

#include "support/CaseName.h"

namespace {

struct ByteCase {
    const char* name;
    char byte;
    bool sendable;
};

class HeaderValueBytes : public ::testing::TestWithParam<ByteCase> {};

// Long values are checked a word at a time: the byte counts at each place of a word and of
// the tail after the last whole word.
TEST_P(HeaderValueBytes, CountsAtEveryPlace) {
    const ByteCase& row = GetParam();
    for (std::size_t length : {1u, 7u, 8u, 17u}) {
        for (std::size_t at = 0; at < length; ++at) {
            std::string value(length, 'a');
            value[at] = row.byte;
            EXPECT_EQ(HeaderValueCheck::sendable(value), row.sendable)
                << "length " << length << " at " << at;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Bytes, HeaderValueBytes,
    ::testing::Values(ByteCase{"Nul", '\0', false}, ByteCase{"LineFeed", '\n', false},
                      ByteCase{"CarriageReturn", '\r', false}, ByteCase{"Escape", '\x1B', false},
                      ByteCase{"UnitSeparator", '\x1F', false}, ByteCase{"Delete", '\x7F', false},
                      ByteCase{"Tab", '\t', true}, ByteCase{"Space", ' ', true},
                      ByteCase{"Tilde", '~', true}, ByteCase{"HighByte", '\x80', true},
                      ByteCase{"CsiByte", '\x9B', true}, ByteCase{"LastByte", '\xFF', true}),
    CaseName{});

TEST(HeaderValueCheck, TakesTheEmptyValue) {
    EXPECT_TRUE(HeaderValueCheck::sendable(""));
}

}  // namespace

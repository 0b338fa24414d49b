#include "core/detect/SuffixTable.h"

#include <gtest/gtest.h>

#include <string>

#include "core/detect/Cp932Text.h"

namespace {

struct FindCase {
    const char* name;
    std::string text;
    std::string needle;
    std::size_t expected;
};

TEST(Cp932Text, FindNeverStartsOnATrailByte) {
    const FindCase cases[] = {
        {"plain", "GET /a.asf", ".asf", 6},
        {"after lead byte", "\x82.asf", ".asf", Cp932Text::npos},
        {"after a whole character", "\x82\xA0.asf", ".asf", 2},
        {"second occurrence on a boundary", "\x82.a.a", ".a", 3},
        {"lead byte at the end", "ab\x82", "b", 1},
        {"lead byte pairs with anything", "\x81 x", " x", Cp932Text::npos},
        {"empty needle", "abc", "", 0},
    };
    for (const FindCase& c : cases) {
        EXPECT_EQ(Cp932Text::find(c.text, c.needle), c.expected) << c.name;
        // A caller who knows the text is plain ASCII gets the same answer.
        if (Cp932Text::singleBytesOnly(c.text)) {
            EXPECT_EQ(Cp932Text::find(c.text, c.needle, 0, true), c.expected) << c.name;
        }
    }
    EXPECT_EQ(Cp932Text::findLast("a b\x81 c", ' '), 1u);
    EXPECT_EQ(Cp932Text::findLast("abc", ' '), Cp932Text::npos);
    EXPECT_EQ(Cp932Text::findLastOf("a b\nc", ' ', '\n'), 3u);
    EXPECT_EQ(Cp932Text::findLastOf("a\nb c\x81 ", ' ', '\n'), 3u);
    EXPECT_EQ(Cp932Text::findLastOf("abc", ' ', '\n'), Cp932Text::npos);
    // Longer texts, where words of eight bytes are passed over at once.
    const struct {
        const char* text;
        std::size_t expected;
    } lastOfCases[] = {
        {"GET /media/clips/1000000.asf", 3},
        {"GET\n/media/clips/1000000.asf", 3},
        {"abcdefghijklmnop q", 16},
        {"a bcdefghijklmnopqrstuvwx", 1},
        {" abcdefghijklmnop", 0},
        {"abcdefghijklmnopq", Cp932Text::npos},
        {"x \x81 abcdefghijklmnop", 1},
    };
    for (const auto& c : lastOfCases) {
        EXPECT_EQ(Cp932Text::findLastOf(c.text, ' ', '\n'), c.expected) << c.text;
        if (Cp932Text::singleBytesOnly(c.text)) {
            EXPECT_EQ(Cp932Text::findLastOf(c.text, ' ', '\n', true), c.expected) << c.text;
        }
    }
    // Plain ASCII or not, wherever the high byte is: in the 16-byte steps or the tail.
    const struct {
        const char* text;
        bool single;
    } singleCases[] = {
        {"", true},
        {"GET /media/clips/1000000.asf HTTP/1.1", true},
        {"\x80", false},
        {"abcdefghijklmno\x81", false},
        {"abcdefghijklmnop\xFC", false},
        {"abcdefghijklmnopqrstuvwxyz012345\xE0x", false},
        {"abcdefghijklmnopqrstuvwxyz0123456", true},
    };
    for (const auto& c : singleCases) {
        EXPECT_EQ(Cp932Text::singleBytesOnly(c.text), c.single) << c.text;
        // The same text alone, and ahead of a zero byte and a two-byte lead.
        for (const std::string& bytes : {std::string(c.text), c.text + std::string("\0\x81x", 3)}) {
            bool single = !c.single;
            EXPECT_EQ(Cp932Text::upToZero(bytes.data(), bytes.size(), single), c.text);
            EXPECT_EQ(single, c.single) << c.text;
        }
    }
}

TEST(Cp932Text, UpperCaseLeavesTwoByteCharactersAlone) {
    std::string text =
        ".as\x82"
        "a\xE0"
        "bz";
    Cp932Text::toUpper(text.data(), text.size());
    EXPECT_EQ(text,
              ".AS\x82"
              "a\xE0"
              "bZ");
}

SuffixTable tableOf(std::initializer_list<const char*> suffixes) {
    SuffixTable table;
    for (const char* suffix : suffixes) {
        table.add(suffix, "T");
    }
    return table;
}

struct MatchCase {
    const char* name;
    std::string text;
    int row;  // -1: no match
    std::size_t position;
};

TEST(SuffixTable, FirstRowInTableOrderWins) {
    SuffixTable table = tableOf({".asf", ".mp3", ".rm", "",
                                 ".\x82"
                                 "a"});
    const MatchCase cases[] = {
        {"row order, not text order", "x.mp3 y.asf", 0, 7},
        {"second row", "x.mp3", 1, 1},
        {"position 0 fails without upper-case try", ".asf .ASF .mp3", 1, 10},
        {"upper-case form", "x.RM", 2, 1},
        {"upper-case only when the row's own text is absent", "x.ASF .asf", 0, 6},
        {"mixed case", "x.Asf", -1, 0},
        {"two-byte suffix",
         "x.\x82"
         "a",
         4, 1},
        {"two-byte suffix is not upper-cased",
         "x.\x82"
         "A",
         -1, 0},
        {"on a trail byte", "\x82.asf", -1, 0},
        {"nothing", "GET / HTTP/1.1", -1, 0},
        {"empty text", "", -1, 0},
    };
    for (const MatchCase& c : cases) {
        auto match = table.findFirstMatch(c.text);
        if (Cp932Text::singleBytesOnly(c.text)) {
            auto known = table.findFirstMatch(c.text, true);
            EXPECT_EQ(known.has_value(), match.has_value()) << c.name;
            EXPECT_TRUE(!known || (known->row == match->row && known->position == match->position))
                << c.name;
        }
        if (c.row < 0) {
            EXPECT_FALSE(match) << c.name;
            continue;
        }
        ASSERT_TRUE(match) << c.name;
        EXPECT_EQ(match->row, c.row) << c.name;
        EXPECT_EQ(match->position, c.position) << c.name;
    }
}

TEST(SuffixTable, SuffixesWithDifferentFirstBytesAreAllFound) {
    SuffixTable table = tableOf({"xyz", ".asf", "q"});
    EXPECT_EQ(table.findFirstMatch("a.asf q xyz")->row, 0);
    EXPECT_EQ(table.findFirstMatch("a.asf q")->row, 1);
    EXPECT_EQ(table.findFirstMatch("aQ")->row, 2);
    EXPECT_FALSE(table.findFirstMatch("q"));
}

TEST(SuffixTable, RefusesRowsThatDoNotFit) {
    SuffixTable table;
    EXPECT_TRUE(table.add(".123456", "T"));
    EXPECT_FALSE(table.add(".1234567", "T"));
    EXPECT_FALSE(table.add(".a", std::string(64, 'n')));
    for (int i = 1; i < SuffixTable::kCapacity; ++i) {
        EXPECT_TRUE(table.add(".x", "T"));
    }
    EXPECT_FALSE(table.add(".y", "T"));
    EXPECT_EQ(table.count(), SuffixTable::kCapacity);
    EXPECT_STREQ(table.row(0).suffix, ".123456");
}

}  // namespace

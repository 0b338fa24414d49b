#include "gui/list/TextFitter.h"

#include <gtest/gtest.h>

namespace {
// One unit per byte keeps the expected cuts easy to read.
int bytes(std::string_view text) {
    return static_cast<int>(text.size());
}

struct FitCase {
    const char* text;
    int width;
    int margin;
    const char* expected;
    bool shortened;
};

class TextFitterFit : public testing::TestWithParam<FitCase> {};

TEST_P(TextFitterFit, CutsToTheLongestFittingPrefix) {
    const FitCase& c = GetParam();
    const auto result = TextFitter::fit(c.text, c.width, c.margin, bytes);
    EXPECT_EQ(result.text, c.expected);
    EXPECT_EQ(result.shortened, c.shortened);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TextFitterFit,
    testing::Values(FitCase{"", 0, 12, "", false},               // empty stays empty
                    FitCase{"abcdef", 10, 4, "abcdef", false},   // exactly fits: 6 + 4
                    FitCase{"abcdefg", 10, 4, "abc...", true},   // 3 + 3 dots + 4
                    FitCase{"abcdefg", 18, 12, "abc...", true},  // other columns: margin 12
                    FitCase{"abcdefg", 1, 12, "a...", true},     // nothing fits: first byte
                    FitCase{"x", 1, 12, "x...", true},           // one byte keeps that byte
                    FitCase{"\xE5\xAE\x8C\xE4\xBA\x86", 10, 4, "\xE5\xAE\x8C\xE4\xBA\x86", false}));

TEST(TextFitter, NeverCutsInsideAUtf8Character) {
    const std::string text = "\xE6\x8E\xA5\xE7\xB6\x9A\xE4\xB8\xAD...";  // 接続中...
    for (int width = 0; width < 30; ++width) {
        const auto result = TextFitter::fit(text, width, 4, bytes);
        const std::string kept = result.text.substr(0, result.text.size() - 3);
        ASSERT_TRUE(kept.size() % 3 == 0 || !result.shortened) << width;
        ASSERT_GE(kept.size(), 3u) << width;
    }
    EXPECT_EQ(TextFitter::fit(text, 4 + 3 + 6, 4, bytes).text, "\xE6\x8E\xA5\xE7\xB6\x9A...");
}

TEST(TextFitter, StrayContinuationBytesAreCutWhereTheyAre) {
    const std::string junk(10, '\x80');
    const auto result = TextFitter::fit(junk, 10, 4, bytes);
    EXPECT_TRUE(result.shortened);
    EXPECT_EQ(result.text, std::string(3, '\x80') + "...");
}

TEST(TextFitter, FollowsRealWidthsNotBytes) {
    // Wide characters cost two units each, ASCII one.
    auto measure = [](std::string_view text) {
        int width = 0;
        for (unsigned char c : text) {
            width += (c & 0xC0) == 0x80 ? 0 : (c >= 0x80 ? 2 : 1);
        }
        return width;
    };
    const std::string text = "ab\xE3\x81\x82\xE3\x81\x84\xE3\x81\x86\xE3\x81\x88";  // abあいうえ
    EXPECT_FALSE(TextFitter::fit(text, 14, 4, measure).shortened);
    EXPECT_EQ(TextFitter::fit(text, 13, 4, measure).text, "ab\xE3\x81\x82\xE3\x81\x84...");
    EXPECT_EQ(TextFitter::fit(text, 10, 4, measure).text, "ab...");
    EXPECT_EQ(TextFitter::fit(text, 8, 4, measure).text, "a...");
}
}  // namespace

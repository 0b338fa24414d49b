#include "cli/JsonLine.h"

#include <gtest/gtest.h>

TEST(JsonLine, EscapesTextAndKeepsValidUtf8) {
    JsonLine line;
    line.add("a", "q\"b\\s\n\x01").add("jp", "完了").add("n", 40000);
    EXPECT_EQ(line.str(), "{\"a\":\"q\\\"b\\\\s\\n\\u0001\",\"jp\":\"完了\",\"n\":40000}");
}

TEST(JsonLine, InvalidBytesBecomeByteEscapes) {
    std::string out;
    // cp932 bytes, a truncated sequence, an overlong form and a surrogate.
    JsonLine::appendEscaped(out, std::string("\x82\xA0|\xE5\xAE|\xC0\xAF|\xED\xA0\x80", 12));
    EXPECT_EQ(out, "\"\\u0082\\u00A0|\\u00E5\\u00AE|\\u00C0\\u00AF|\\u00ED\\u00A0\\u0080\"");
}

TEST(JsonLine, ControlCharactersAndDeleteAreEscaped) {
    std::string out;
    JsonLine::appendEscaped(out, std::string("a\r\t\x7F\x1F", 5));
    EXPECT_EQ(out, "\"a\\r\\t\\u007F\\u001F\"");
}

// Plain runs go out in pieces of eight; escapes at every distance from the ends must land
// between them unchanged.
TEST(JsonLine, EscapesAtEveryPositionOfARun) {
    const struct {
        std::string bytes;
        std::string json;
    } cases[] = {
        {"abcdefg\"", "\"abcdefg\\\"\""},
        {"\"abcdefgh", "\"\\\"abcdefgh\""},
        {"abcdefgh\"ij", "\"abcdefgh\\\"ij\""},
        {"abcdefghi\nj", "\"abcdefghi\\nj\""},
        {"ab\x01"
         "cdefghijklm",
         "\"ab\\u0001cdefghijklm\""},
        {"abcdefghijklmno\x7F", "\"abcdefghijklmno\\u007F\""},
        {"abcdefgh完了xyz", "\"abcdefgh完了xyz\""},
        {"abcdefghij\x82xyz", "\"abcdefghij\\u0082xyz\""},
        {"/media/clips/1000000.asf", "\"/media/clips/1000000.asf\""},
        {"abcdefghijklmnopqrstuvwxyz0123456789\"AB",
         "\"abcdefghijklmnopqrstuvwxyz0123456789\\\"AB\""},
        {"abcdefghijklmnop\x01qrstuvwxyz0123456789",
         "\"abcdefghijklmnop\\u0001qrstuvwxyz0123456789\""},
        {"abc", "\"abc\""},
        {"", "\"\""},
    };
    for (const auto& c : cases) {
        std::string out = "x";
        JsonLine::appendEscaped(out, c.bytes);
        EXPECT_EQ(out, "x" + c.json) << c.bytes;
    }
}

#include "cli/TerminalText.h"

#include <gtest/gtest.h>

#include "cli/TerminalDownloadHost.h"

namespace {

struct EscapeCase {
    const char* name;
    std::string bytes;
    std::string shown;
};

const EscapeCase kEscapeCases[] = {
    {"plain ASCII", "http://s/a.asf", "http://s/a.asf"},
    {"window title", "/a\x1B]0;owned\x07.asf", "/a\\x1B]0;owned\\x07.asf"},
    {"clear screen", "\x1B[2J/a.asf", "\\x1B[2J/a.asf"},
    {"carriage return draws over", "/a.asf\rhttp://x/b.asf", "/a.asf\\x0Dhttp://x/b.asf"},
    {"line feed, tab and DEL", "a\nb\tc\x7F", "a\\x0Ab\\x09c\\x7F"},
    {"NUL", std::string("a\0b", 3), "a\\x00b"},
    {"Japanese stays readable", "/完了/ファイル.wmv", "/完了/ファイル.wmv"},
    {"C1 CSI as UTF-8",
     "a\xC2\x9B"
     "2Jb",
     "a\\xC2\\x9B2Jb"},
    {"C1 NEL as UTF-8", "\xC2\x85", "\\xC2\\x85"},
    {"U+00A0 is text", "\xC2\xA0", "\xC2\xA0"},
    {"lone C1 byte",
     "a\x9B"
     "2J",
     "a\\x9B2J"},
    {"invalid lead byte", "\xFF\xFE", "\\xFF\\xFE"},
    {"cp932 bytes", "\x82\xA0", "\\x82\\xA0"},
    {"sequence cut at the end", "ab\xE5\xAE", "ab\\xE5\\xAE"},
    {"overlong slash", "\xC0\xAF", "\\xC0\\xAF"},
    {"surrogate", "\xED\xA0\x80", "\\xED\\xA0\\x80"},
    {"four-byte character", "\xF0\x9F\x8E\xAC", "\xF0\x9F\x8E\xAC"},
    {"empty", "", ""},
};

}  // namespace

TEST(TerminalText, EscapesWhatCouldSteerTheTerminal) {
    for (const EscapeCase& c : kEscapeCases) {
        EXPECT_EQ(TerminalText::escaped(c.bytes), c.shown) << c.name;
    }
}

TEST(TerminalText, LoginPromptShowsTheRealmEscaped) {
    struct Case {
        const char* name;
        DownloadHost::LoginRequest request;
        std::string line;
    } cases[] = {
        {"plain realm",
         {401, "http://s/a.wmv", "test"},
         "ログインが必要です (401) test: http://s/a.wmv"},
        {"no realm", {407, "http://s/a.wmv", ""}, "ログインが必要です (407): http://s/a.wmv"},
        {"fake sudo prompt",
         {401, "http://s/a.wmv", "x\r\x1B[2K[sudo] password for root:"},
         "ログインが必要です (401) x\\x0D\\x1B[2K[sudo] password for root:: http://s/a.wmv"},
        {"escapes in the URL",
         {401, "http://s/\x1B]0;t\x07", "r"},
         "ログインが必要です (401) r: http://s/\\x1B]0;t\\x07"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(TerminalDownloadHost::loginPromptLine(c.request), c.line) << c.name;
    }
}

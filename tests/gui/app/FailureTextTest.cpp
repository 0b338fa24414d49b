#include "gui/app/FailureText.h"

#include <gtest/gtest.h>

namespace {

struct BoxCase {
    const char* name;
    std::string message;
    std::string url;
    std::string detail;
    const char* textHas;    // the box's text contains this
    const char* textLacks;  // ... and not this (nullptr: no check)
    bool details;           // the complete URL went to the details
};

class FailureBox : public testing::TestWithParam<BoxCase> {};

TEST_P(FailureBox, KeepsTheMessageAndShowsUrlAndCause) {
    const BoxCase& c = GetParam();
    const FailureText::Box box = FailureText::make(c.message, c.url, c.detail);
    EXPECT_TRUE(box.text.startsWith(QString::fromStdString(c.message))) << c.name;
    EXPECT_TRUE(box.text.contains(QString::fromUtf8(c.textHas))) << qPrintable(box.text);
    if (c.textLacks != nullptr) {
        EXPECT_FALSE(box.text.contains(QString::fromUtf8(c.textLacks))) << qPrintable(box.text);
    }
    EXPECT_EQ(!box.details.isEmpty(), c.details) << c.name;
    if (c.details) {
        EXPECT_TRUE(box.details.contains(FailureText::visible(c.url))) << c.name;
    }
    for (QChar ch : box.text + box.details) {
        EXPECT_FALSE(ch.unicode() < 0x20 && ch != QLatin1Char('\n')) << c.name;
    }
}

const std::string kMessage = "サーバに接続できませんでした。 (6)";
const std::string kLong = "http://h/" + std::string(300, 'a') + "/end.wmv";

INSTANTIATE_TEST_SUITE_P(
    Cases, FailureBox,
    testing::Values(
        BoxCase{"url and cause", kMessage, "http://example.test/a.wmv",
                "Could not resolve host: example.test",
                "URL: http://example.test/a.wmv\n詳細: "
                "Could not resolve host: example.test",
                nullptr, false},
        BoxCase{"no detail", kMessage, "http://h/a.wmv", "", "URL: http://h/a.wmv", "詳細", false},
        BoxCase{"nothing to add", kMessage, "", "", "(6)", "URL", false},
        BoxCase{"escape sequence", kMessage, "http://h/\x1b[2Ja.wmv", "", "%1B[2Ja.wmv", "\x1b",
                false},
        BoxCase{"line break in detail", kMessage, "http://h/a", "first\r\nSecond", "first%0D%0A",
                nullptr, false},
        BoxCase{"right-to-left override", kMessage,
                "http://h/\xe2\x80\xae"
                "vmw.exe",
                "", "%E2%80%AEvmw.exe", "\u202e", false},
        BoxCase{"invalid UTF-8", kMessage, "http://h/\xff.wmv", "", "\ufffd.wmv", nullptr, false},
        BoxCase{"long url", kMessage, kLong, "", "/end.wmv",
                "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa"
                "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa"
                "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa",
                true}));

TEST(FailureText, ElidesInTheMiddleWithoutSplittingCharacters) {
    EXPECT_EQ(FailureText::elideMiddle(QStringLiteral("abcdefghij"), 5), QStringLiteral("ab…ij"));
    EXPECT_EQ(FailureText::elideMiddle(QStringLiteral("abc"), 5), QStringLiteral("abc"));
    const QString wide = QString::fromUcs4(U"\U0001F600\U0001F600\U0001F600\U0001F600");
    const QString cut = FailureText::elideMiddle(wide, 4);
    EXPECT_FALSE(cut.at(0).isLowSurrogate());
    EXPECT_FALSE(cut.back().isHighSurrogate());
    EXPECT_LE(cut.size(), 4);
}

}  // namespace

#include "core/download/common/TransferFormat.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdint>
#include <string>

#include "core/detect/DetectedStream.h"
#include "core/download/common/RecordText.h"

namespace {

struct SizeCase {
    std::uint64_t bytes;
    const char* text;
};

TEST(TransferFormat, SizeUnitsAndThresholds) {
    const SizeCase cases[] = {
        {0, "0 Byte"},
        {1023, "1023 Byte"},
        {1024, "1.0 KB"},
        {1536, "1.5 KB"},
        {1048575, "1024.0 KB"},
        {1048576, "1.00 MB"},
        {4294967295u, "4096.00 MB"},
        {5368709120u, "5120.00 MB"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FormatSize(c.bytes), c.text) << c.bytes;
    }
}

struct TimeCase {
    std::uint32_t seconds;
    const char* text;
};

TEST(TransferFormat, TimeLeftForms) {
    const TimeCase cases[] = {
        {0, "0 秒"},
        {59, "59 秒"},
        {60, "1 分"},
        {61, "1分 1秒"},
        {3600, "60 分"},
        {3725, "62分 5秒"},
        {4294967295u, "71582788分 15秒"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FormatTimeLeft(c.seconds), c.text) << c.seconds;
    }
}

struct RateCase {
    double rate;
    const char* text;
};

TEST(TransferFormat, RateForms) {
    const RateCase cases[] = {
        {0.0, "0 B/S"},        {0.5, "512 B/S"},  {0.9995, "1023 B/S"}, {1.0, "1.00 KB/S"},
        {9.999, "10.00 KB/S"}, {10.0, "10 KB/S"}, {123.4, "123 KB/S"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FormatRate(c.rate), c.text) << c.rate;
    }
}

TEST(TransferFormat, DecimalPointDoesNotFollowTheLocale) {
    const char* previous = std::setlocale(LC_NUMERIC, nullptr);
    std::string saved = previous != nullptr ? previous : "C";
    if (std::setlocale(LC_NUMERIC, "de_DE.UTF-8") == nullptr) {
        GTEST_SKIP() << "no de_DE.UTF-8 locale installed";
    }
    EXPECT_EQ(FormatSize(1536), "1.5 KB");
    EXPECT_EQ(FormatRate(1.5), "1.50 KB/S");
    std::setlocale(LC_NUMERIC, saved.c_str());
}

TEST(RecordText, CutsLongTextAtCharacterBoundary) {
    char field[8];
    SetRecordText(field, "abcde秒");  // 5 + 3 bytes: the 秒 does not fit
    EXPECT_STREQ(field, "abcde");
    SetRecordText(field, "ab秒cd");
    EXPECT_STREQ(field, "ab秒cd");
    SetRecordText(field, "");
    EXPECT_STREQ(field, "");
}

}  // namespace

#include "core/download/common/ReportProgress.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/download/TransferProgress.h"
#include "core/download/common/TransferText.h"

namespace {

class ReportProgressTest : public ::testing::Test {
  protected:
    void SetUp() override {
        shown.stage = TransferProgress::Stage::kConnecting;
        ticks = [this] { return now; };
    }
    bool report(std::uint64_t received, ProgressState& state) {
        const bool changed = ReportProgress(received, state, shown, ticks);
        refreshes += changed ? 1 : 0;
        return changed;
    }
    std::string size() const { return TransferText::size(shown); }
    std::string progress() const { return TransferText::progress(shown); }
    std::string time() const { return TransferText::timeLeft(shown); }
    std::string rate() const { return TransferText::rate(shown); }

    TransferProgress shown;
    std::size_t refreshes = 0;
    std::uint32_t now = 5000;
    TickSource ticks;
};

TEST_F(ReportProgressTest, PercentFollowsBlocksAndZeroIsNeverShown) {
    auto state = ProgressState::Begin(now, true, 1000);
    std::vector<std::string> texts;
    for (std::uint64_t received = 5; received <= 1000; received += 5) {
        if (report(received, state)) {
            texts.push_back(progress());
            EXPECT_EQ(received % 10, 0u) << "changed at " << received;
        }
        if (received < 10) {
            EXPECT_EQ(progress(), "接続中...");
        }
    }
    ASSERT_EQ(texts.size(), 100u);
    EXPECT_EQ(texts.front(), "1%");
    EXPECT_EQ(texts.back(), "100%");
    EXPECT_EQ(refreshes, 100u);
    // No time passed: rate, time and size were never sampled.
    EXPECT_EQ(rate(), "");
    EXPECT_EQ(size(), "");
}

TEST_F(ReportProgressTest, ExactlyOneSecondApartTakesNoSample) {
    auto state = ProgressState::Begin(now, false, 0);
    now += 1000;
    EXPECT_FALSE(report(100, state));
    now += 1000;  // 2000 ms since the start sample: a sample now
    EXPECT_TRUE(report(200, state));
    EXPECT_EQ(rate(), "102 B/S");  // 200 bytes / 2000 ms * 1024
    now += 1000;
    EXPECT_FALSE(report(300, state));
    now += 1;
    EXPECT_TRUE(report(2300, state));
    EXPECT_EQ(rate(), "2.10 KB/S");  // 2100 bytes / 1001 ms
}

TEST_F(ReportProgressTest, StallIsAveragedOverTheWholeGap) {
    auto state = ProgressState::Begin(now, true, 100000);
    now += 1500;
    report(15000, state);
    EXPECT_EQ(rate(), "10 KB/S");
    EXPECT_EQ(progress(), "15%");
    EXPECT_EQ(size(), "97.7 KB");
    EXPECT_EQ(time(), "8 秒");  // 1500 ms / 15000 B * 85000 B = 8.5 s
    now += 8000;                // stall, then one block
    report(19000, state);
    EXPECT_EQ(rate(), "512 B/S");  // 4000 bytes / 8000 ms
    EXPECT_EQ(time(), "40 秒");    // 9500 ms / 19000 B * 81000 B = 40.5 s
}

TEST_F(ReportProgressTest, WithoutLengthOnlyTheRateChanges) {
    shown.size = 7;
    shown.secondsLeft = 3;
    auto state = ProgressState::Begin(now, false, 0);
    for (int i = 1; i <= 10; ++i) {
        now += 600;
        report(static_cast<std::uint64_t>(i) * 5000, state);
    }
    EXPECT_EQ(progress(), "接続中...");
    EXPECT_EQ(size(), "7 Byte");
    EXPECT_EQ(time(), "3 秒");
    EXPECT_EQ(rate(), "8.33 KB/S");  // 10000 bytes / 1200 ms
    EXPECT_EQ(refreshes, 5u);        // one sample per 1200 ms
}

TEST_F(ReportProgressTest, TickWraparoundAndOversizedBodiesStayDefined) {
    now = 0xFFFFFF00u;
    auto state = ProgressState::Begin(now, true, 1000);
    now += 2000;  // wraps past zero
    report(500, state);
    EXPECT_EQ(rate(), "256 B/S");
    EXPECT_EQ(time(), "2 秒");
    now += 2000;
    report(1500, state);  // more than announced
    EXPECT_EQ(progress(), "150%");
    EXPECT_EQ(time(), "0 秒");
    auto empty = ProgressState::Begin(now, true, 0);  // announced length 0
    EXPECT_FALSE(report(10, empty));
}

}  // namespace

#include "core/download/common/ReportProgress.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/detect/DetectedStream.h"
#include "core/store/StreamList.h"

namespace {

struct Row {
    std::string size, progress, time, rate;
};

class RecordingList : public StreamList {
  public:
    int AddOrUpdateStream(const DetectedStream* record, int update) override {
        EXPECT_EQ(update, 1);
        rows.push_back(
            {record->sizeText, record->progressText, record->timeText, record->rateText});
        return 0;
    }
    std::vector<Row> rows;
};

class ReportProgressTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::memset(&record, 0, sizeof record);
        record.ownerList = &list;
        std::strcpy(record.progressText, "接続中...");
        ticks = [this] { return now; };
    }

    DetectedStream record;
    RecordingList list;
    std::uint32_t now = 5000;
    TickSource ticks;
};

TEST_F(ReportProgressTest, PercentFollowsBlocksAndZeroIsNeverShown) {
    auto state = ProgressState::Begin(now, true, 1000);
    std::vector<std::string> shown;
    for (std::uint64_t received = 5; received <= 1000; received += 5) {
        if (ReportProgress(received, state, record, ticks)) {
            shown.push_back(record.progressText);
            EXPECT_EQ(received % 10, 0u) << "changed at " << received;
        }
        if (received < 10) {
            EXPECT_STREQ(record.progressText, "接続中...");
        }
    }
    ASSERT_EQ(shown.size(), 100u);
    EXPECT_EQ(shown.front(), "1%");
    EXPECT_EQ(shown.back(), "100%");
    EXPECT_EQ(list.rows.size(), 100u);
    // No time passed: rate, time and size were never sampled.
    EXPECT_STREQ(record.rateText, "");
    EXPECT_STREQ(record.sizeText, "");
}

TEST_F(ReportProgressTest, ExactlyOneSecondApartTakesNoSample) {
    auto state = ProgressState::Begin(now, false, 0);
    now += 1000;
    EXPECT_FALSE(ReportProgress(100, state, record, ticks));
    now += 1000;  // 2000 ms since the start sample: a sample now
    EXPECT_TRUE(ReportProgress(200, state, record, ticks));
    EXPECT_STREQ(record.rateText, "102 B/S");  // 200 bytes / 2000 ms * 1024
    now += 1000;
    EXPECT_FALSE(ReportProgress(300, state, record, ticks));
    now += 1;
    EXPECT_TRUE(ReportProgress(2300, state, record, ticks));
    EXPECT_STREQ(record.rateText, "2.10 KB/S");  // 2100 bytes / 1001 ms
}

TEST_F(ReportProgressTest, StallIsAveragedOverTheWholeGap) {
    auto state = ProgressState::Begin(now, true, 100000);
    now += 1500;
    ReportProgress(15000, state, record, ticks);
    EXPECT_STREQ(record.rateText, "10 KB/S");
    EXPECT_STREQ(record.progressText, "15%");
    EXPECT_STREQ(record.sizeText, "97.7 KB");
    EXPECT_STREQ(record.timeText, "8 秒");  // 1500 ms / 15000 B * 85000 B = 8.5 s
    now += 8000;                            // stall, then one block
    ReportProgress(19000, state, record, ticks);
    EXPECT_STREQ(record.rateText, "512 B/S");  // 4000 bytes / 8000 ms
    EXPECT_STREQ(record.timeText, "40 秒");    // 9500 ms / 19000 B * 81000 B = 40.5 s
}

TEST_F(ReportProgressTest, WithoutLengthOnlyTheRateChanges) {
    std::strcpy(record.sizeText, "s");
    std::strcpy(record.timeText, "t");
    auto state = ProgressState::Begin(now, false, 0);
    for (int i = 1; i <= 10; ++i) {
        now += 600;
        ReportProgress(static_cast<std::uint64_t>(i) * 5000, state, record, ticks);
    }
    EXPECT_STREQ(record.progressText, "接続中...");
    EXPECT_STREQ(record.sizeText, "s");
    EXPECT_STREQ(record.timeText, "t");
    EXPECT_STREQ(record.rateText, "8.33 KB/S");  // 10000 bytes / 1200 ms
    EXPECT_EQ(list.rows.size(), 5u);             // one sample per 1200 ms
}

TEST_F(ReportProgressTest, TickWraparoundAndOversizedBodiesStayDefined) {
    now = 0xFFFFFF00u;
    auto state = ProgressState::Begin(now, true, 1000);
    now += 2000;  // wraps past zero
    ReportProgress(500, state, record, ticks);
    EXPECT_STREQ(record.rateText, "256 B/S");
    EXPECT_STREQ(record.timeText, "2 秒");
    now += 2000;
    ReportProgress(1500, state, record, ticks);  // more than announced
    EXPECT_STREQ(record.progressText, "150%");
    EXPECT_STREQ(record.timeText, "0 秒");
    auto empty = ProgressState::Begin(now, true, 0);  // announced length 0
    EXPECT_FALSE(ReportProgress(10, empty, record, ticks));
}

TEST_F(ReportProgressTest, NoOwnerListStillWritesTexts) {
    record.ownerList = nullptr;
    auto state = ProgressState::Begin(now, true, 200);
    EXPECT_TRUE(ReportProgress(100, state, record, ticks));
    EXPECT_STREQ(record.progressText, "50%");
}

}  // namespace

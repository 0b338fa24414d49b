#include "core/download/common/TransferText.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {

using Stage = TransferProgress::Stage;

TransferProgress Of(Stage stage, std::int32_t number = 0, std::int32_t of = 0) {
    TransferProgress progress;
    progress.stage = stage;
    progress.percent = number;
    progress.mediaSeconds = static_cast<std::uint32_t>(number);
    progress.tryNumber = number;
    progress.tryCount = of;
    return progress;
}

TEST(TransferText, EveryStageHasItsWords) {
    const struct {
        TransferProgress progress;
        const char* text;
    } cases[] = {
        {Of(Stage::kNone), ""},
        {Of(Stage::kConnecting), "接続中..."},
        {Of(Stage::kWaiting), "待機中"},
        {Of(Stage::kPercent, 37), "37%"},
        {Of(Stage::kPercent, 2147483647), "2147483647%"},
        {Of(Stage::kRecorded, 125), "2分 5秒"},
        {Of(Stage::kRetrying, 2, 5), "再試行 2/5"},
        {Of(Stage::kPaused), "一時停止中"},
        {Of(Stage::kComplete), "完了"},
        {Of(Stage::kCancelled), "Cancel"},
        {Of(Stage::kFailed), "失敗"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(TransferText::progress(c.progress), c.text);
    }
}

TEST(TransferText, AmountsShowOnlyOnceKnown) {
    TransferProgress progress;
    EXPECT_EQ(TransferText::of(progress).size + TransferText::of(progress).time +
                  TransferText::of(progress).rate,
              "");
    progress.size = 1536;
    progress.secondsLeft = 0;
    progress.rate = 0.5;
    const TransferText::Columns texts = TransferText::of(progress);
    EXPECT_EQ(texts.size, "1.5 KB");
    EXPECT_EQ(texts.time, "0 秒");
    EXPECT_EQ(texts.rate, "512 B/S");
    progress.forgetTransfer();
    EXPECT_EQ(TransferText::size(progress) + TransferText::rate(progress), "");
}

}  // namespace

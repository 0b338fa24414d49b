#include "gui/app/FailureExplanation.h"

#include <gtest/gtest.h>

#include "core/download/DownloadOutcome.h"
#include "gui/app/DownloadNotice.h"
#include "gui/app/FailureText.h"

namespace {

// One sentence for every kind but the unknown, first in the box and the notice; the message
// with its code and the system's words come after it.
TEST(FailureExplanationTest, ComesFirstInTheBoxAndTheNotice) {
    EXPECT_TRUE(FailureExplanation::of(FailureCause::kUnknown).isEmpty());
    for (int kind = 1; kind <= static_cast<int>(FailureCause::kCannotWrite); ++kind) {
        EXPECT_EQ(FailureExplanation::of(static_cast<FailureCause>(kind)).count(u'。'), 1) << kind;
    }
    EXPECT_EQ(FailureText::make("ダウンロード中にエラーが発生しました。(18)", "http://h/a.mp4",
                                "transfer closed with 10178560 bytes remaining to read",
                                FailureCause::kTransferCut)
                  .text,
              QStringLiteral("転送の途中でサーバとの接続が切れました。\n"
                             "ダウンロード中にエラーが発生しました。(18)\n\n"
                             "URL: http://h/a.mp4\n"
                             "詳細: transfer closed with 10178560 bytes remaining to read"));
    DownloadOutcome outcome;
    outcome.message = "ダウンロード中にエラーが発生しました。(28)";
    outcome.cause = FailureCause::kDiskFull;
    EXPECT_EQ(DownloadNotice::body(outcome, QStringLiteral("a.mp4")),
              QStringLiteral("ダウンロードに失敗しました: a.mp4\n"
                             "保存先のディスクに空きがありません。\n"
                             "ダウンロード中にエラーが発生しました。(28)"));
}

}  // namespace

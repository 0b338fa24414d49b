#include "gui/app/CaptureFailureText.h"

#include <gtest/gtest.h>
#include <QRegularExpression>

#include "core/capture/CaptureStatus.h"

namespace {

using Cause = CaptureStatus::Cause;

struct FailureCase {
    CaptureStatus::State state;
    const char* interfaceName;
    const char* message;
    Cause cause;
    const char* shows;  // the text contains this
    bool japanese;      // no English words besides names of programs, files and the adapter
};

class CaptureFailureBox : public testing::TestWithParam<FailureCase> {};

TEST_P(CaptureFailureBox, SaysWhatIsWrongAndWhy) {
    const FailureCase& c = GetParam();
    const QString text = CaptureFailureText::make({c.state, c.interfaceName, c.message, c.cause});
    EXPECT_TRUE(text.contains(QString::fromUtf8(c.shows))) << qPrintable(text);
    if (c.japanese) {
        QString rest = text;
        // The advice names commands, with the user's own login name.
        rest.remove(QRegularExpression(QStringLiteral("adduser \\S+ quorvex")));
        for (const char* name : {"scripts/grant-capture-rights.sh", "dpkg-reconfigure quorvex-cli",
                                 "quorvex-capture", "quorvex", "root", c.interfaceName}) {
            rest.remove(QString::fromUtf8(name));
        }
        EXPECT_FALSE(rest.contains(QRegularExpression(QStringLiteral("[A-Za-z]"))))
            << qPrintable(text);
    }
}

constexpr auto kFailed = CaptureStatus::kFailed;

INSTANTIATE_TEST_SUITE_P(
    Cases, CaptureFailureBox,
    testing::Values(
        FailureCase{kFailed, "eth0",
                    "no permission to capture on eth0 (capture rights belong to the helper "
                    "quorvex-capture: packages give them to the group quorvex with "
                    "dpkg-reconfigure quorvex-cli, a build from source with "
                    "scripts/grant-capture-rights.sh)",
                    Cause::kNoRights, "dpkg-reconfigure quorvex-cli", true},
        FailureCase{kFailed, "eth0", "", Cause::kNoRights, "scripts/grant-capture-rights.sh", true},
        FailureCase{kFailed, "wlan0", "", Cause::kNoPromiscuousRights, "wlan0 をプロミスキャス",
                    true},
        // Whatever the system's language made of the message.
        FailureCase{kFailed, "", "cannot start the capture helper /x/quorvex-capture: Zugriff",
                    Cause::kHelperNotPermitted, "実行する権限がありません", true},
        FailureCase{kFailed, "", "", Cause::kHelperNotPermitted, "quorvex でこのユーザーを", true},
        FailureCase{kFailed, "", "", Cause::kHelperMissing, "見つかりません", true},
        FailureCase{kFailed, "eth1", "", Cause::kAdapterDown, "eth1 は無効", true},
        FailureCase{CaptureStatus::kLost, "eth0", "", Cause::kHelperEnded, "中断されました", true},
        // Unknown causes keep the engine's words, made safe to show.
        FailureCase{kFailed, "eth0", "odd\x1b[31m", Cause::kUnknown, "詳細: odd%1B[31m", false}));

}  // namespace

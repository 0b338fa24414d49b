#include "gui/app/CaptureFailureText.h"

#include <pwd.h>
#include <unistd.h>

#include "core/capture/CaptureStatus.h"
#include "gui/app/FailureText.h"

namespace {

// Capture rights belong to the helper alone; this is how a user gets them, from the packages
// or from a build of the sources. %1 is the user's login name.
const char kRightsAdvice[] =
    "キャプチャの権限はキャプチャ補助プログラム quorvex-capture にだけ与えます。"
    "パッケージから入れた場合は、管理者 (root) が dpkg-reconfigure quorvex-cli で quorvex "
    "グループにキャプチャを許可し、adduser %1 quorvex でこのユーザーをグループに加えてください。"
    "ソースから入れた場合は、管理者が scripts/grant-capture-rights.sh を実行し、同じように"
    "グループに加えてください。グループはログインし直すと有効になります。";

using Cause = CaptureStatus::Cause;

struct CauseText {
    Cause cause;
    const char* text;  // Japanese; %1 is the interface
    bool rights;       // followed by the advice on capture rights
};

constexpr CauseText kCauseTexts[] = {
    {Cause::kNoRights, "%1 でパケットをキャプチャする権限がありません。", true},
    {Cause::kNoPromiscuousRights, "%1 をプロミスキャス モードにする権限がありません。", true},
    {Cause::kHelperNotPermitted,
     "キャプチャ補助プログラム quorvex-capture を実行する権限がありません。", true},
    {Cause::kHelperNotStarted, "キャプチャ補助プログラム quorvex-capture を起動できませんでした。",
     false},
    {Cause::kHelperMissing,
     "キャプチャ補助プログラム quorvex-capture が見つかりません。インストールを確認してください。",
     false},
    {Cause::kAdapterDown, "%1 は無効 (ダウン) になっています。", false},
    {Cause::kAdapterMissing, "%1 というアダプタはありません。", false},
    {Cause::kNoAdapterWithAddress, "選択したアドレスを持つアダプタがありません。", false},
    {Cause::kHelperEnded, "キャプチャ補助プログラムが予期せず終了しました。", false},
    {Cause::kHelperMalformed, "キャプチャ補助プログラムから不正なデータが届きました。", false},
};

const CauseText* textOf(Cause cause) {
    for (const CauseText& entry : kCauseTexts) {
        if (entry.cause == cause) {
            return &entry;
        }
    }
    return nullptr;
}

QString loginName() {
    const passwd* entry = ::getpwuid(::geteuid());
    return entry != nullptr ? FailureText::visible(entry->pw_name) : QStringLiteral("USER");
}

}  // namespace

QString CaptureFailureText::make(const CaptureStatus& status, const std::string& chosen) {
    QString name = FailureText::visible(status.interfaceName);
    if (name.isEmpty()) {
        name = FailureText::visible(chosen);
    }
    const bool lost = status.state == CaptureStatus::kLost;
    QString text;
    if (name.isEmpty()) {
        text = lost ? QStringLiteral("パケットのキャプチャが中断されました。")
                    : QStringLiteral("パケットのキャプチャを開始できませんでした。");
    } else {
        text = (lost ? QStringLiteral("%1 でのパケットのキャプチャが中断されました。")
                     : QStringLiteral("%1 でパケットのキャプチャを開始できませんでした。"))
                   .arg(name);
    }
    const CauseText* cause = textOf(status.cause);
    if (cause == nullptr) {
        if (!status.message.empty()) {
            text += QStringLiteral("\n詳細: ") + FailureText::visible(status.message);
        }
        return text;
    }
    const QString subject = name.isEmpty() ? QStringLiteral("選択したアダプタ") : name;
    text +=
        QLatin1Char('\n') + QString::fromUtf8(cause->text).replace(QStringLiteral("%1"), subject);
    if (cause->rights) {
        text += QLatin1Char('\n') +
                QString::fromUtf8(kRightsAdvice).replace(QStringLiteral("%1"), loginName());
    }
    return text;
}

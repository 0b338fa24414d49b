#include "gui/app/CaptureFailureText.h"

#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string_view>

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

constexpr std::string_view kDenied = "Permission denied";

struct Cause {
    std::string_view start;     // how the engine's message begins
    std::string_view contains;  // and what else it must hold (empty: anything)
    const char* text;           // Japanese; %1 is the interface
    bool rights;                // followed by the advice on capture rights
};

constexpr Cause kCauses[] = {
    {"no permission to capture on ", "", "%1 でパケットをキャプチャする権限がありません。", true},
    {"no permission to put ", "", "%1 をプロミスキャス モードにする権限がありません。", true},
    {"cannot start the capture helper", kDenied,
     "キャプチャ補助プログラム quorvex-capture を実行する権限がありません。", true},
    {"cannot start the capture helper", "",
     "キャプチャ補助プログラム quorvex-capture を起動できませんでした。", false},
    {"cannot find the capture helper", "",
     "キャプチャ補助プログラム quorvex-capture が見つかりません。インストールを確認してください。",
     false},
    {"interface ", " is down", "%1 は無効 (ダウン) になっています。", false},
    {"interface ", " does not exist", "%1 というアダプタはありません。", false},
    {"no interface holds the address", "", "選択したアドレスを持つアダプタがありません。", false},
    {"the capture helper ended unexpectedly", "",
     "キャプチャ補助プログラムが予期せず終了しました。", false},
    {"the capture helper sent malformed data", "",
     "キャプチャ補助プログラムから不正なデータが届きました。", false},
};

// The engine words a refused start in the system's language, as strerror does.
bool holds(std::string_view message, std::string_view part) {
    if (part.empty() || message.find(part) != std::string_view::npos) {
        return true;
    }
    return part == kDenied && message.find(std::strerror(EACCES)) != std::string_view::npos;
}

const Cause* causeOf(std::string_view message) {
    for (const Cause& cause : kCauses) {
        if (message.starts_with(cause.start) && holds(message, cause.contains)) {
            return &cause;
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
    const Cause* cause = causeOf(status.message);
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

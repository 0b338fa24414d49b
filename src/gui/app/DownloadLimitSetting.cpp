#include "gui/app/DownloadLimitSetting.h"

#include <QSettings>

#include "core/session/DownloadQueue.h"

namespace {

const QString kKey = QStringLiteral("Settings/downloadLimit");

}  // namespace

int DownloadLimitSetting::Load() {
    QString error;
    return FromText(QSettings().value(kKey).toString(), error)
        .value_or(DownloadQueue::kDefaultLimit);
}

void DownloadLimitSetting::Save(int limit) {
    QSettings().setValue(kKey, ToText(limit));
}

QString DownloadLimitSetting::ToText(int limit) {
    return QString::number(limit);
}

std::optional<int> DownloadLimitSetting::FromText(const QString& text, QString& error) {
    bool valid = false;
    const int limit = text.trimmed().toInt(&valid);
    if (!valid || limit < 1 || limit > kMost) {
        error = QStringLiteral("同時ダウンロード数には 1 から %1 までの数を入力してください。")
                    .arg(kMost);
        return std::nullopt;
    }
    return limit;
}

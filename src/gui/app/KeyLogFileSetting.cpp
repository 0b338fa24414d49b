#include "gui/app/KeyLogFileSetting.h"

#include <QDir>
#include <QFile>
#include <QSettings>

namespace {

const QString kKey = QStringLiteral("Settings/keyLogFile");

}  // namespace

QString KeyLogFileSetting::Load() {
    QString error;
    return FromText(QSettings().value(kKey).toString(), error).value_or(QString());
}

void KeyLogFileSetting::Save(const QString& path) {
    QSettings().setValue(kKey, path);
}

std::string KeyLogFileSetting::LocalPath(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

std::optional<QString> KeyLogFileSetting::FromText(const QString& text, QString& error) {
    const QString path = text.trimmed();
    if (!path.isEmpty() && !path.startsWith(QLatin1Char('/'))) {
        error = QStringLiteral("鍵ログ ファイルは / で始まる絶対パスで指定してください。");
        return std::nullopt;
    }
    return path.isEmpty() ? QString() : QDir::cleanPath(path);
}

#include "gui/app/WatchedPortsSetting.h"

#include <QRegularExpression>
#include <QSettings>
#include <QStringList>

namespace {

const QString kKey = QStringLiteral("Settings/watchedPorts");

}  // namespace

WatchedPorts WatchedPortsSetting::Load() {
    QString error;
    // A damaged value (edited by hand) is no reason to refuse to start: the fixed three stay.
    return FromText(QSettings().value(kKey).toString(), error).value_or(WatchedPorts{});
}

void WatchedPortsSetting::Save(const WatchedPorts& ports) {
    QSettings().setValue(kKey, ToText(ports));
}

QString WatchedPortsSetting::ToText(const WatchedPorts& ports) {
    QStringList words;
    for (std::uint16_t port : ports.added()) {
        words << QString::number(port);
    }
    return words.join(QLatin1Char(' '));
}

std::optional<WatchedPorts> WatchedPortsSetting::FromText(const QString& text, QString& error) {
    WatchedPorts ports;
    static const QRegularExpression separators(QStringLiteral("[\\s,、]+"));
    for (const QString& word : text.split(separators, Qt::SkipEmptyParts)) {
        bool number = false;
        const uint port = word.toUInt(&number);
        if (!number || port == 0 || port > 65535) {
            error =
                QStringLiteral("「%1」はポート番号 (1～65535) ではありません。").arg(word.left(16));
            return std::nullopt;
        }
        if (!ports.add(static_cast<std::uint16_t>(port))) {
            error =
                QStringLiteral("追加できるポートは %1 個までです。").arg(WatchedPorts::kMaxAdded);
            return std::nullopt;
        }
    }
    return ports;
}

#include "gui/app/WatchedPortsSetting.h"

#include <QSettings>

#include "gui/app/PortListText.h"

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
    return PortListText::join(ports.added());
}

std::optional<WatchedPorts> WatchedPortsSetting::FromText(const QString& text, QString& error) {
    return PortListText::parse<WatchedPorts>(text, error);
}

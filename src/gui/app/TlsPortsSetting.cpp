#include "gui/app/TlsPortsSetting.h"

#include <QSettings>

#include "gui/app/PortListText.h"

namespace {

const QString kKey = QStringLiteral("Settings/tlsPorts");

}  // namespace

TlsPorts TlsPortsSetting::Load() {
    QString error;
    // A damaged value (edited by hand) leaves 443 alone.
    return FromText(QSettings().value(kKey).toString(), error).value_or(TlsPorts{});
}

void TlsPortsSetting::Save(const TlsPorts& ports) {
    QSettings().setValue(kKey, ToText(ports));
}

QString TlsPortsSetting::ToText(const TlsPorts& ports) {
    return PortListText::join(ports.all().subspan(1));
}

std::optional<TlsPorts> TlsPortsSetting::FromText(const QString& text, QString& error) {
    return PortListText::parse<TlsPorts>(text, error);
}

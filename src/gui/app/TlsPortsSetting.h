#pragma once

#include <QString>
#include <optional>

#include "core/detect/TlsPorts.h"

// The TCP ports read as TLS besides 443, kept with the other settings as one text of port
// numbers, as the watched ports are.
class TlsPortsSetting {
  public:
    static TlsPorts Load();
    static void Save(const TlsPorts& ports);

    // The added ports as the user edits them (443 is always read and never shown).
    static QString ToText(const TlsPorts& ports);
    // nullopt with `error` set for a word that is no port from 1 to 65535, or too many ports.
    static std::optional<TlsPorts> FromText(const QString& text, QString& error);
};

#pragma once

#include <QString>
#include <optional>

#include "core/detect/WatchedPorts.h"

// The TCP ports the user watches besides 80, 1755 and 554, kept with the other settings as
// one text of port numbers separated by blanks or commas ("8000 8080").
class WatchedPortsSetting {
  public:
    static WatchedPorts Load();
    static void Save(const WatchedPorts& ports);

    // The added ports as the user edits them.
    static QString ToText(const WatchedPorts& ports);
    // nullopt with `error` set for a word that is no port from 1 to 65535, or too many ports.
    static std::optional<WatchedPorts> FromText(const QString& text, QString& error);
};

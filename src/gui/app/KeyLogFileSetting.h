#pragma once

#include <QString>
#include <optional>
#include <string>

// The TLS key log file a browser writes (SSLKEYLOGFILE), kept with the other settings as its
// path only: its contents are secrets and stay in memory. Empty: none.
class KeyLogFileSetting {
  public:
    static QString Load();
    static void Save(const QString& path);

    // The path as the session opens it.
    static std::string LocalPath(const QString& path);
    // The path the user typed, trimmed; nullopt with `error` set for one that is not absolute
    // (a working folder is no place to look for secrets).
    static std::optional<QString> FromText(const QString& text, QString& error);
};

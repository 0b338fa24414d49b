#pragma once

#include <QString>
#include <optional>

// How many downloads run at once, kept with the other download settings; the ones asked for
// beyond it wait for their turn.
class DownloadLimitSetting {
  public:
    static constexpr int kMost = 20;

    // The kept count; the engine's default when none is kept or it was damaged by hand.
    static int Load();
    static void Save(int limit);

    static QString ToText(int limit);
    // nullopt with `error` set for anything but a whole number from 1 to kMost.
    static std::optional<int> FromText(const QString& text, QString& error);
};

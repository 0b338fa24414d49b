#pragma once

#include <QStringList>

// The four most recently opened or saved documents, kept in the application's settings.
class RecentFileList {
  public:
    static constexpr int kSize = 4;

    static QStringList files();
    static void add(const QString& path);
    // Drops `path` (one that no longer exists).
    static void remove(const QString& path);

  private:
    static void store(const QStringList& list);
};

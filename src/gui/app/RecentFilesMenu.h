#pragma once

#include <QObject>
#include <QString>

class QAction;
class QMenu;

// The recent-file list as items of the File menu, placed before `before` and brought up to
// date each time the menu opens: "&1 path" and so on, or one disabled item when the list is
// empty. Choosing an item sends its path.
class RecentFilesMenu : public QObject {
    Q_OBJECT
  public:
    // Command IDs of the items, the first one's and those after it.
    static constexpr int kFirstId = 57616;

    RecentFilesMenu(QMenu* menu, QAction* before);

    // Rebuilds the items from the settings.
    void refresh();

  signals:
    void fileChosen(const QString& path);

  private:
    QMenu* menu_;
    QAction* before_;
    QList<QAction*> items_;
};

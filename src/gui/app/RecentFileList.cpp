#include "gui/app/RecentFileList.h"

#include <QFileInfo>
#include <QSettings>

namespace {
const QString kSection = QStringLiteral("Recent File List");

QString key(int index) {
    return kSection + QStringLiteral("/File%1").arg(index + 1);
}
}  // namespace

QStringList RecentFileList::files() {
    QSettings settings;
    QStringList list;
    for (int i = 0; i < kSize; ++i) {
        const QString path = settings.value(key(i)).toString();
        if (!path.isEmpty()) {
            list.append(path);
        }
    }
    return list;
}

void RecentFileList::add(const QString& path) {
    const QString absolute = QFileInfo(path).absoluteFilePath();
    QStringList list = files();
    list.removeAll(absolute);
    list.prepend(absolute);
    store(list);
}

void RecentFileList::remove(const QString& path) {
    QStringList list = files();
    list.removeAll(path);
    list.removeAll(QFileInfo(path).absoluteFilePath());
    store(list);
}

void RecentFileList::store(const QStringList& list) {
    QSettings settings;
    for (int i = 0; i < kSize; ++i) {
        if (i < list.size()) {
            settings.setValue(key(i), list.at(i));
        } else {
            settings.remove(key(i));
        }
    }
}

#include "gui/app/RecentFilesMenu.h"

#include <QAction>
#include <QMenu>

#include "gui/app/RecentFileList.h"

RecentFilesMenu::RecentFilesMenu(QMenu* menu, QAction* before)
    : QObject(menu), menu_(menu), before_(before) {
    connect(menu_, &QMenu::aboutToShow, this, &RecentFilesMenu::refresh);
    refresh();
}

void RecentFilesMenu::refresh() {
    for (QAction* item : items_) {
        menu_->removeAction(item);
        item->deleteLater();
    }
    items_.clear();
    const QStringList files = RecentFileList::files();
    if (files.isEmpty()) {
        auto* none = new QAction(QStringLiteral("最近使ったファイル"), this);
        none->setEnabled(false);
        none->setData(kFirstId);
        items_.append(none);
    }
    for (int i = 0; i < files.size(); ++i) {
        // "&&" keeps an ampersand in a path from becoming a mnemonic.
        QString label = files[i];
        label.replace(QLatin1Char('&'), QStringLiteral("&&"));
        auto* item = new QAction(QStringLiteral("&%1 %2").arg(i + 1).arg(label), this);
        item->setData(kFirstId + i);
        item->setStatusTip(QStringLiteral("このドキュメントを開きます"));
        const QString path = files[i];
        connect(item, &QAction::triggered, this, [this, path] { emit fileChosen(path); });
        items_.append(item);
    }
    auto* separator = new QAction(this);
    separator->setSeparator(true);
    items_.append(separator);
    menu_->insertActions(before_, items_);
}

#include "gui/app/CAboutDlg.h"

#include <QLabel>
#include <QPushButton>

#include "gui/app/ProgramIcon.h"
#include "gui/ui/DialogUnits.h"

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("バージョン情報 Quorvex"));
    const QString noteText = QStringLiteral("メディア ストリームの検出と保存");
    DialogUnits du(font());
    du.fitText(font(), noteText, 135);

    auto* icon = new QLabel(this);
    icon->setObjectName(QStringLiteral("icon"));
    const int iconSize = 32;
    icon->setPixmap(ProgramIcon::pixmap(iconSize));
    icon->setGeometry(QRect(du.rect(11, 17, 0, 0).topLeft(), QSize(iconSize, iconSize)));

    auto* version = new QLabel(QStringLiteral("Quorvex Version " QUORVEX_VERSION), this);
    version->setObjectName(QStringLiteral("version"));
    version->setGeometry(du.rect(40, 10, 119, 8));

    auto* note = new QLabel(noteText, this);
    note->setObjectName(QStringLiteral("note"));
    note->setGeometry(du.rect(40, 25, 135, 8));

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("ok"));
    ok->setDefault(true);
    ok->setGeometry(du.rect(178, 7, 50, 16));
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);

    setFixedSize(du.size(235, 55));
}

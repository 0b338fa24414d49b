#include "gui/app/DocumentPrompts.h"

#include <QMessageBox>
#include <QPushButton>

DocumentPrompts::SaveAnswer DocumentPrompts::AskSaveChanges(QWidget* parent, const QString& title) {
    QMessageBox box(QMessageBox::Question, QStringLiteral("Quorvex"),
                    QStringLiteral("変更を保存しますか?"), QMessageBox::NoButton, parent);
    box.setInformativeText(
        QStringLiteral("%1 の一覧には、ファイルに保存されていない変更があります。").arg(title));
    QPushButton* save = box.addButton(QStringLiteral("保存"), QMessageBox::AcceptRole);
    QPushButton* discard =
        box.addButton(QStringLiteral("保存しない"), QMessageBox::DestructiveRole);
    QPushButton* cancel = box.addButton(QStringLiteral("キャンセル"), QMessageBox::RejectRole);
    box.setDefaultButton(save);
    box.setEscapeButton(cancel);
    box.exec();
    if (box.clickedButton() == save) {
        return SaveAnswer::kSave;
    }
    return box.clickedButton() == discard ? SaveAnswer::kDiscard : SaveAnswer::kCancel;
}

bool DocumentPrompts::AskStopMonitoring(QWidget* parent) {
    QMessageBox box(QMessageBox::Question, QStringLiteral("Quorvex"),
                    QStringLiteral("モニタリングを停止してファイルを開きますか?"),
                    QMessageBox::NoButton, parent);
    box.setInformativeText(
        QStringLiteral("モニタリング中にファイルを開くと、検出した行が開いた一覧に混ざります。"));
    QPushButton* stop = box.addButton(QStringLiteral("停止して開く"), QMessageBox::AcceptRole);
    QPushButton* cancel = box.addButton(QStringLiteral("キャンセル"), QMessageBox::RejectRole);
    box.setDefaultButton(stop);
    box.setEscapeButton(cancel);
    box.exec();
    return box.clickedButton() == stop;
}

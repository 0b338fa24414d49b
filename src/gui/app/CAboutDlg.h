#pragma once

#include <QDialog>

// "バージョン情報 Quorvex": the program icon, the version line, a line of our own and OK.
class CAboutDlg : public QDialog {
    Q_OBJECT
  public:
    explicit CAboutDlg(QWidget* parent = nullptr);
};

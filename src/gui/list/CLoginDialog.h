#pragma once

#include <QDialog>

class QLineEdit;

// Asks for the user name and password that a server or proxy wants.
class CLoginDialog : public QDialog {
    Q_OBJECT
  public:
    CLoginDialog(const QString& url, const QString& realm, bool proxy, QWidget* parent = nullptr);

    QString user() const;
    QString password() const;

  private:
    QLineEdit* user_;
    QLineEdit* password_;
};

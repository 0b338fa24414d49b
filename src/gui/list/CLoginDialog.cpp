#include "gui/list/CLoginDialog.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

CLoginDialog::CLoginDialog(const QString& url, const QString& realm, bool proxy, QWidget* parent)
    : QDialog(parent), user_(new QLineEdit(this)), password_(new QLineEdit(this)) {
    setWindowTitle(QApplication::applicationDisplayName());
    user_->setObjectName(QStringLiteral("user"));
    password_->setObjectName(QStringLiteral("password"));
    password_->setEchoMode(QLineEdit::Password);

    auto* layout = new QVBoxLayout(this);
    const QString who = proxy ? QStringLiteral("プロキシ") : QStringLiteral("サーバー");
    auto* intro = new QLabel(QStringLiteral("%1への接続にはログインが必要です。").arg(who), this);
    layout->addWidget(intro);
    auto* form = new QFormLayout;
    auto* urlLabel = new QLabel(url, this);
    urlLabel->setTextFormat(Qt::PlainText);
    form->addRow(QStringLiteral("URL:"), urlLabel);
    if (!realm.isEmpty()) {
        auto* realmLabel = new QLabel(realm, this);
        realmLabel->setTextFormat(Qt::PlainText);
        form->addRow(QStringLiteral("領域:"), realmLabel);
    }
    form->addRow(QStringLiteral("ユーザー名:"), user_);
    form->addRow(QStringLiteral("パスワード:"), password_);
    layout->addLayout(form);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
}

QString CLoginDialog::user() const {
    return user_->text();
}

QString CLoginDialog::password() const {
    return password_->text();
}

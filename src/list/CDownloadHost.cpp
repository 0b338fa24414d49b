#include "list/CDownloadHost.h"

#include "list/CLoginDialog.h"

#include <QApplication>
#include <QMessageBox>
#include <QThread>

#include <memory>

CDownloadHost::CDownloadHost(QWidget* dialogParent) : dialogParent_(dialogParent) {}

void CDownloadHost::release() {
    {
        std::lock_guard lock(mutex_);
        released_ = true;
    }
    answered_.notify_all();
}

bool CDownloadHost::isReleased() const {
    std::lock_guard lock(mutex_);
    return released_;
}

void CDownloadHost::runOnUserInterface(std::function<void()> dialog) {
    if (isReleased()) {
        return;
    }
    // Start() reports its failures on the user-interface thread itself.
    if (QThread::currentThread() == thread()) {
        dialog();
        return;
    }
    // The flag outlives this call when the wait is cut short by release().
    auto done = std::make_shared<bool>(false);
    QMetaObject::invokeMethod(
        this,
        [this, done, dialog = std::move(dialog)] {
            if (!isReleased()) {
                dialog();
            }
            {
                std::lock_guard lock(mutex_);
                *done = true;
            }
            answered_.notify_all();
        },
        Qt::QueuedConnection);
    std::unique_lock lock(mutex_);
    answered_.wait(lock, [&] { return *done || released_; });
}

void CDownloadHost::showMessage(const std::string& text) {
    const QString message = QString::fromStdString(text);
    QPointer<QWidget> parent = dialogParent_;
    runOnUserInterface([message, parent] {
        QMessageBox::warning(parent, QApplication::applicationDisplayName(), message);
    });
}

bool CDownloadHost::askLogin(const LoginRequest& request, Credentials& out) {
    struct Answer {
        bool accepted = false;
        std::string user;
        std::string password;
    };
    auto answer = std::make_shared<Answer>();
    const QString url = QString::fromStdString(request.url);
    const QString realm = QString::fromStdString(request.realm);
    const bool proxy = request.status == 407;
    QPointer<QWidget> parent = dialogParent_;
    runOnUserInterface([answer, url, realm, proxy, parent] {
        CLoginDialog dialog(url, realm, proxy, parent);
        if (dialog.exec() == QDialog::Accepted) {
            answer->accepted = true;
            answer->user = dialog.user().toStdString();
            answer->password = dialog.password().toStdString();
        }
    });
    std::lock_guard lock(mutex_);
    if (released_ || !answer->accepted) {
        return false;
    }
    out.user = answer->user;
    out.password = answer->password;
    return true;
}

void CDownloadHost::downloadEnded(DetectedStream* /*record*/) {
    emit ended();
}

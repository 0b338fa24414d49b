#include "gui/list/CDownloadHost.h"

#include "gui/list/CLoginDialog.h"

#include <QApplication>
#include <QMessageBox>
#include <QThread>

#include <memory>

CDownloadHost::CDownloadHost(QWidget* dialogParent)
    : dialogParent_(dialogParent), channel_(std::make_shared<Channel>()) {}

void CDownloadHost::release() {
    {
        std::lock_guard lock(channel_->mutex);
        channel_->released = true;
    }
    channel_->answered.notify_all();
}

bool CDownloadHost::isReleased() const {
    std::lock_guard lock(channel_->mutex);
    return channel_->released;
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
    // The dialog runs in the application's event loop, not this object's: a shutdown may
    // destroy this object while the dialog is still open.
    auto done = std::make_shared<bool>(false);
    std::shared_ptr<Channel> channel = channel_;
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [channel, done, dialog = std::move(dialog)] {
            {
                std::lock_guard lock(channel->mutex);
                if (channel->released) {
                    return;
                }
            }
            dialog();
            {
                std::lock_guard lock(channel->mutex);
                *done = true;
            }
            channel->answered.notify_all();
        },
        Qt::QueuedConnection);
    std::unique_lock lock(channel->mutex);
    channel->answered.wait(lock, [&] { return *done || channel->released; });
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
    std::lock_guard lock(channel_->mutex);
    if (channel_->released || !answer->accepted) {
        return false;
    }
    out.user = answer->user;
    out.password = answer->password;
    return true;
}

void CDownloadHost::downloadEnded(DetectedStream* /*record*/, const DownloadOutcome& /*outcome*/) {
    emit ended();
}

#include "gui/app/UiBridge.h"

#include <QApplication>
#include <QMessageBox>
#include <QThread>

#include "gui/app/FailureText.h"
#include "gui/list/CLoginDialog.h"

UiBridge::UiBridge(QObject* parent) : QObject(parent), channel_(std::make_shared<Channel>()) {
    qRegisterMetaType<CaptureStatus>("CaptureStatus");
    qRegisterMetaType<DownloadOutcome>("DownloadOutcome");
    flushTimer_.setSingleShot(true);
    connect(&flushTimer_, &QTimer::timeout, this, &UiBridge::rowsChanged);
}

UiBridge::~UiBridge() {
    release();
}

SessionCallbacks UiBridge::callbacks() {
    SessionCallbacks callbacks;
    callbacks.rowsChanged = [this] { post([this] { scheduleRowsChanged(kFlushDelayMs); }); };
    callbacks.captureStatus = [this](const CaptureStatus& status, int run) {
        post([this, status, run] { emit captureStatus(status, run); });
    };
    callbacks.downloadEnded = [this](int row, const DownloadOutcome& outcome) {
        post([this, row, outcome] { emit downloadEnded(row, outcome); });
    };
    callbacks.downloadPaused = [this](int row) { post([this, row] { emit downloadPaused(row); }); };
    callbacks.showMessage = [this](const std::string& text) {
        showFailure(text, {}, {}, FailureCause::kUnknown);
    };
    callbacks.showFailure = [this](const std::string& text, const std::string& url,
                                   const std::string& detail,
                                   FailureCause cause) { showFailure(text, url, detail, cause); };
    callbacks.askLogin = [this](const DownloadHost::LoginRequest& request,
                                DownloadHost::Credentials& out) { return askLogin(request, out); };
    return callbacks;
}

void UiBridge::post(std::function<void()> call) {
    // Dropped by Qt if this object is gone by the time the event loop gets to it.
    QMetaObject::invokeMethod(this, std::move(call), Qt::QueuedConnection);
}

void UiBridge::scheduleRowsChanged(int delayMs) {
    if (!flushTimer_.isActive()) {
        flushTimer_.start(delayMs);
    }
}

void UiBridge::release() {
    {
        std::lock_guard lock(channel_->mutex);
        channel_->released = true;
    }
    channel_->answered.notify_all();
}

void UiBridge::runAndWait(std::function<void()> dialog) {
    {
        std::lock_guard lock(channel_->mutex);
        if (channel_->released) {
            return;
        }
    }
    // A download that cannot start says so on the user-interface thread itself.
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

void UiBridge::showFailure(const std::string& text, const std::string& url,
                           const std::string& detail, FailureCause cause) {
    const FailureText::Box content = FailureText::make(text, url, detail, cause);
    QPointer<QWidget> parent = dialogParent_;
    runAndWait([content, parent] {
        QMessageBox box(QMessageBox::Warning, QApplication::applicationDisplayName(), content.text,
                        QMessageBox::Ok, parent);
        // The URL can be copied out of the box.
        box.setTextInteractionFlags(Qt::TextSelectableByMouse);
        box.setDetailedText(content.details);
        box.exec();
    });
}

bool UiBridge::askLogin(const DownloadHost::LoginRequest& request, DownloadHost::Credentials& out) {
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
    runAndWait([answer, url, realm, proxy, parent] {
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

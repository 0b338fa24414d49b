#pragma once

#include "core/download/DownloadHost.h"

#include <QObject>
#include <QPointer>
#include <QWidget>

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

// The desktop side of one download: its messages and login prompt appear as modal dialogs
// on the user-interface thread while the worker thread waits, and its end is handed back to
// the list. Lives on the user-interface thread; the DownloadHost calls come from the worker.
class CDownloadHost : public QObject, public DownloadHost {
    Q_OBJECT
  public:
    explicit CDownloadHost(QWidget* dialogParent);

    void showMessage(const std::string& text) override;
    bool askLogin(const LoginRequest& request, Credentials& out) override;
    void downloadEnded(DetectedStream* record, const DownloadOutcome& outcome) override;

    // Lets a worker that waits for a dialog go on, and makes later requests return at once
    // (the program is closing).
    void release();
    bool isReleased() const;

  signals:
    // Queued to the user-interface thread; the worker object may be destroyed from then on.
    void ended();

  private:
    // Runs `dialog` on the user-interface thread and waits for it, unless released.
    void runOnUserInterface(std::function<void()> dialog);

    // Shared with the dialogs in flight, which may outlive this object at shutdown.
    struct Channel {
        std::mutex mutex;
        std::condition_variable answered;
        bool released = false;
    };

    QPointer<QWidget> dialogParent_;
    std::shared_ptr<Channel> channel_;
};

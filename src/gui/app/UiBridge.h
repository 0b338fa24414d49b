#pragma once

#include <QObject>
#include <QPointer>
#include <QTimer>

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

#include "core/session/SessionCallbacks.h"

class QWidget;

// The one place where the engine's threads reach the user-interface thread. The session's
// callbacks (callbacks()) run on the capture thread and the download workers; each crosses
// over here by one queued call and comes out as a signal on this object's thread:
// - rows changed: coalesced by a short timer, so a flood of detections and progress costs one
//   flush of the list per tick, never one per change;
// - capture status, download ends and pauses: one signal each, in the order they happened.
// This is the only user of queued calls in the desktop program.
//
// The one place where a worker waits for the user is here too: a download's failure message
// and its login prompt run as modal dialogs on the user-interface thread while the worker
// thread blocks in showFailure/askLogin. release() ends every such wait (the program is
// closing); call it before the session joins its workers, or the join would wait for a dialog
// that can no longer run.
class UiBridge : public QObject {
    Q_OBJECT
  public:
    // Rows changed reach the list at most this often.
    static constexpr int kFlushDelayMs = 15;

    explicit UiBridge(QObject* parent = nullptr);
    ~UiBridge() override;

    // The session's callbacks; valid while this object lives.
    SessionCallbacks callbacks();

    // The parent of the download dialogs.
    void setDialogParent(QWidget* parent) { dialogParent_ = parent; }

    // Asks for another rowsChanged after `delayMs`, unless one is pending (the list moves a
    // flood of rows in over several turns of the event loop).
    void scheduleRowsChanged(int delayMs);

    // Waiting workers go on at once, and later prompts return without asking.
    void release();

  signals:
    void rowsChanged();
    void captureStatus(const CaptureStatus& status, int run);
    void downloadEnded(int row, const DownloadOutcome& outcome);
    void downloadPaused(int row);

  private:
    // Any thread: runs `call` on this object's thread, later.
    void post(std::function<void()> call);
    // Any thread: runs `dialog` on the user-interface thread and waits for it, unless released.
    void runAndWait(std::function<void()> dialog);
    // The failure box: the kind of failure in words, the message, the URL and the system's
    // words; URL and detail may be empty.
    void showFailure(const std::string& text, const std::string& url, const std::string& detail,
                     FailureCause cause);
    bool askLogin(const DownloadHost::LoginRequest& request, DownloadHost::Credentials& out);

    // Shared with the dialogs in flight, which may outlive this object at shutdown.
    struct Channel {
        std::mutex mutex;
        std::condition_variable answered;
        bool released = false;
    };

    QTimer flushTimer_;
    QPointer<QWidget> dialogParent_;
    std::shared_ptr<Channel> channel_;
};

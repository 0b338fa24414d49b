#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "core/download/DownloadHost.h"
#include "core/download/TransferProgress.h"
#include "core/download/http/HttpDownloadOptions.h"

class DownloadWorker;
class StreamStore;
struct DetectedStream;
struct SessionCallbacks;

// One download the session runs: the worker, the record it works on (kept alive after a reset
// of the list) and the worker's host. It waits for its turn, runs, may pause and run again,
// and ends once. What its row shows reaches the store until the row goes with a reset; the
// end and a pause are told to the session on the worker's thread.
class SessionDownload : public DownloadHost {
  public:
    enum class Phase {
        kWaiting,  // asked for (or resumed), no worker runs
        kRunning,  // its worker transfers; it may be asked to pause or stop
        kPaused,   // its worker stopped with the part kept
        kEnded,    // its end has been told
    };
    using EndHook = std::function<void(SessionDownload&, const DownloadOutcome&)>;
    using PauseHook = std::function<void(SessionDownload&)>;

    SessionDownload(StreamStore& store, const SessionCallbacks& callbacks,
                    std::shared_ptr<DetectedStream> record, int row, EndHook ended,
                    PauseHook paused = {});
    // Joins the worker; only once it has ended or after cancel().
    ~SessionDownload() override;

    // The owner's thread, for all that follows.
    // Takes the target and the options, and lets the row show that it waits; false when the
    // record cannot be downloaded there (the user has been told where there is something to
    // tell).
    bool wait(const std::string& targetPath, const HttpDownloadOptions& httpOptions);
    // Its turn: starts the worker that fits the record's scheme, or resumes the paused one.
    // False when none started (the user has been told why); the download has then ended.
    bool start();
    // Asks it to stop whatever it does: a waiting one ends at once, without a worker's report;
    // a paused one ends once reap() resumes it to do so. False when it has ended.
    bool cancel();
    // Asks a running download to pause; false when it cannot (not running, not HTTP).
    bool pause();
    bool canPause() const;
    // A paused download waits for its turn again; false when it is not paused.
    bool resume();
    // A paused download that was asked to stop goes on only to end (the worker discards its
    // part on its own thread and reports the end).
    void endIfCancelled();

    Phase phase() const { return phase_.load(); }
    bool ended() const { return phase() == Phase::kEnded; }
    // The full path it writes to.
    const std::string& target() const { return target_; }
    int row() const { return orphaned_.load() ? -1 : row_.load(); }
    // Its row went with a reset: refreshes are dropped from now on.
    void orphan() { orphaned_.store(true); }
    // Rows before its own were taken out of the list.
    void moveTo(int row) { row_.store(row); }

    // DownloadHost, on the worker thread.
    void showMessage(const std::string& text) override;
    void showFailure(const std::string& text, const std::string& detail,
                     FailureCause cause) override;
    bool askLogin(const LoginRequest& request, Credentials& out) override;
    void showTransfer(const DetectedStream& record, const TransferProgress& progress) override;
    void downloadEnded(DetectedStream* record, const DownloadOutcome& outcome) override;
    void downloadPaused(DetectedStream* record) override;

  private:
    // The row shows the record's state and its last progress with `change` made to it.
    template <typename Change>
    void showChanged(Change change);

    StreamStore& store_;
    const SessionCallbacks& callbacks_;
    std::shared_ptr<DetectedStream> record_;
    std::atomic<int> row_;
    std::string url_;  // taken before the worker starts, for the failure texts
    std::string target_;
    HttpDownloadOptions httpOptions_;
    EndHook endHook_;
    PauseHook pauseHook_;
    std::unique_ptr<DownloadWorker> worker_;
    std::atomic<bool> orphaned_{false};
    std::mutex shownMutex_;  // guards shown_, told on the worker's and the owner's thread
    TransferProgress shown_;
    std::atomic<Phase> phase_{Phase::kWaiting};
    bool cancelAsked_ = false;  // owner's thread
};

#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>

#include "core/download/DownloadHost.h"
#include "core/download/http/HttpDownloadOptions.h"
#include "core/store/StreamList.h"

class DownloadWorker;
class StreamStore;
struct DetectedStream;
struct SessionCallbacks;

// One download the session runs: the worker, the record it works on (kept alive after a reset
// of the list) and the worker's host. Refreshes reach the store until the row goes with a
// reset; the end is told to the session once, on the worker's thread.
class SessionDownload : public DownloadHost, private StreamList {
  public:
    using EndHook = std::function<void(SessionDownload&, const DownloadOutcome&)>;

    SessionDownload(StreamStore& store, const SessionCallbacks& callbacks,
                    std::shared_ptr<DetectedStream> record, int row, EndHook ended);
    // Joins the worker; only once it has ended or after cancel().
    ~SessionDownload() override;

    // Starts the worker that fits the record's scheme; false when none started (the user has
    // been told why where there is something to tell).
    bool start(const std::string& targetPath, const HttpDownloadOptions& httpOptions);
    // Asks a running download to stop; false when it is not downloading.
    bool abort();
    // Stops the download whatever its state (the program is closing).
    void cancel();

    int row() const { return orphaned_.load() ? -1 : row_.load(); }
    // Its row went with a reset: refreshes are dropped from now on.
    void orphan() { orphaned_.store(true); }
    // Rows before its own were taken out of the list.
    void moveTo(int row) { row_.store(row); }
    bool ended() const { return ended_.load(); }

    // DownloadHost, on the worker thread.
    void showMessage(const std::string& text) override;
    void showFailure(const std::string& text, const std::string& detail) override;
    bool askLogin(const LoginRequest& request, Credentials& out) override;
    void downloadEnded(DetectedStream* record, const DownloadOutcome& outcome) override;

  private:
    int AddOrUpdateStream(const DetectedStream* record, int update) override;

    StreamStore& store_;
    const SessionCallbacks& callbacks_;
    std::shared_ptr<DetectedStream> record_;
    std::atomic<int> row_;
    std::string url_;  // taken before the worker starts, for the failure texts
    EndHook endHook_;
    std::unique_ptr<DownloadWorker> worker_;
    std::atomic<bool> orphaned_{false};
    std::atomic<bool> ended_{false};
};

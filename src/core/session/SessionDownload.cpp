#include "core/session/SessionDownload.h"

#include "core/detect/DetectedStream.h"
#include "core/download/DownloadStarter.h"
#include "core/download/DownloadWorker.h"
#include "core/session/SessionCallbacks.h"
#include "core/store/StreamStore.h"

SessionDownload::SessionDownload(StreamStore& store, const SessionCallbacks& callbacks,
                                 std::shared_ptr<DetectedStream> record, int row, EndHook ended,
                                 PauseHook paused)
    : store_(store),
      callbacks_(callbacks),
      record_(std::move(record)),
      row_(row),
      endHook_(std::move(ended)),
      pauseHook_(std::move(paused)) {}

SessionDownload::~SessionDownload() {
    worker_.reset();  // joins the worker thread; a paused one's part goes with it
}

bool SessionDownload::wait(const std::string& targetPath, const HttpDownloadOptions& httpOptions) {
    url_ = DownloadStarter::UrlOf(*record_);
    target_ = targetPath;
    httpOptions_ = httpOptions;
    DownloadStarter starter(*this, httpOptions_);
    return starter.Queue(*record_, target_);
}

bool SessionDownload::start() {
    if (phase() != Phase::kWaiting) {
        return false;
    }
    phase_.store(Phase::kRunning);
    if (worker_ != nullptr) {
        return worker_->Resume();  // paused before: it goes on from its part
    }
    // The URL as last seen: a waiting row may have been seen again meanwhile.
    url_ = DownloadStarter::UrlOf(*record_);
    DownloadStarter starter(*this, httpOptions_);
    worker_ = starter.Start(*record_, target_);
    if (worker_ == nullptr) {
        phase_.store(Phase::kEnded);
        return false;
    }
    return true;
}

bool SessionDownload::cancel() {
    const Phase now = phase();
    if (now == Phase::kEnded) {
        return false;
    }
    if (worker_ == nullptr) {
        // It never started: nothing to stop, nothing written, no end to report.
        phase_.store(Phase::kEnded);
        StoreDownloadState(*record_, kStateIdle);
        showChanged(
            [](TransferProgress& shown) { shown.stage = TransferProgress::Stage::kCancelled; });
        return true;
    }
    cancelAsked_ = true;
    // Also when it is pausing right now: its pause is then ended by reap().
    worker_->Cancel();
    endIfCancelled();
    return true;
}

void SessionDownload::endIfCancelled() {
    const Phase now = phase();
    if (!cancelAsked_ || worker_ == nullptr || (now != Phase::kPaused && now != Phase::kWaiting)) {
        return;
    }
    phase_.store(Phase::kRunning);
    worker_->Resume();
}

bool SessionDownload::canPause() const {
    return phase() == Phase::kRunning && !cancelAsked_ && worker_ != nullptr && worker_->CanPause();
}

bool SessionDownload::pause() {
    if (!canPause()) {
        return false;
    }
    worker_->Pause();
    return true;
}

bool SessionDownload::resume() {
    if (phase() != Phase::kPaused || cancelAsked_) {
        return false;
    }
    phase_.store(Phase::kWaiting);
    StoreDownloadState(*record_, kStateWaiting);
    showChanged([](TransferProgress& shown) { shown.stage = TransferProgress::Stage::kWaiting; });
    return true;
}

void SessionDownload::showMessage(const std::string& text) {
    showFailure(text, std::string(), FailureCause::kUnknown);
}

void SessionDownload::showFailure(const std::string& text, const std::string& detail,
                                  FailureCause cause) {
    if (callbacks_.showFailure) {
        callbacks_.showFailure(text, url_, detail, cause);
    } else if (callbacks_.showMessage) {
        callbacks_.showMessage(text);
    }
}

bool SessionDownload::askLogin(const LoginRequest& request, Credentials& out) {
    return callbacks_.askLogin && callbacks_.askLogin(request, out);
}

void SessionDownload::showTransfer(const DetectedStream& record, const TransferProgress& progress) {
    std::lock_guard lock(shownMutex_);
    shown_ = progress;
    if (!orphaned_.load()) {  // else its row went with the last reset
        store_.showTransfer(record, shown_);
    }
}

template <typename Change>
void SessionDownload::showChanged(Change change) {
    std::lock_guard lock(shownMutex_);
    change(shown_);
    if (!orphaned_.load()) {
        store_.showTransfer(*record_, shown_);
    }
}

// Nothing is left to wait for or to transfer for now; the size stays.
void SessionDownload::downloadEnded(DetectedStream* /*record*/, const DownloadOutcome& outcome) {
    showChanged([](TransferProgress& shown) { shown.endTransfer(); });
    phase_.store(Phase::kEnded);
    if (endHook_) {
        endHook_(*this, outcome);
    }
}

void SessionDownload::downloadPaused(DetectedStream* /*record*/) {
    showChanged([](TransferProgress& shown) { shown.endTransfer(); });
    phase_.store(Phase::kPaused);
    if (pauseHook_) {
        pauseHook_(*this);
    }
}

#include "core/session/SessionDownload.h"

#include "core/detect/DetectedStream.h"
#include "core/download/DownloadStarter.h"
#include "core/download/DownloadWorker.h"
#include "core/session/SessionCallbacks.h"
#include "core/store/StreamStore.h"

SessionDownload::SessionDownload(StreamStore& store, const SessionCallbacks& callbacks,
                                 std::shared_ptr<DetectedStream> record, int row, EndHook ended)
    : store_(store),
      callbacks_(callbacks),
      record_(std::move(record)),
      row_(row),
      endHook_(std::move(ended)) {}

SessionDownload::~SessionDownload() {
    if (record_->worker == worker_.get()) {
        record_->worker = nullptr;
    }
    worker_.reset();  // joins the worker thread
}

bool SessionDownload::start(const std::string& targetPath, const HttpDownloadOptions& httpOptions) {
    url_ = DownloadStarter::UrlOf(*record_);
    DownloadStarter starter(*this, httpOptions);
    worker_ = starter.Start(*record_, this, targetPath);
    return worker_ != nullptr;
}

bool SessionDownload::abort() {
    return !ended_.load() && DownloadStarter::Abort(*record_);
}

void SessionDownload::cancel() {
    if (worker_ != nullptr) {
        worker_->Cancel();
    }
}

void SessionDownload::showMessage(const std::string& text) {
    showFailure(text, std::string());
}

void SessionDownload::showFailure(const std::string& text, const std::string& detail) {
    if (callbacks_.showFailure) {
        callbacks_.showFailure(text, url_, detail);
    } else if (callbacks_.showMessage) {
        callbacks_.showMessage(text);
    }
}

bool SessionDownload::askLogin(const LoginRequest& request, Credentials& out) {
    return callbacks_.askLogin && callbacks_.askLogin(request, out);
}

void SessionDownload::downloadEnded(DetectedStream* /*record*/, const DownloadOutcome& outcome) {
    // However it ended, nothing is left to wait for or to transfer; the size stays.
    record_->timeText[0] = '\0';
    record_->rateText[0] = '\0';
    AddOrUpdateStream(record_.get(), 1);
    ended_.store(true);
    if (endHook_) {
        endHook_(*this, outcome);
    }
}

int SessionDownload::AddOrUpdateStream(const DetectedStream* record, int update) {
    if (orphaned_.load()) {
        return 0;  // its row went with the last reset
    }
    return store_.AddOrUpdateStream(record, update);
}

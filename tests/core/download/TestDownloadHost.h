#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "core/download/DownloadHost.h"
#include "core/store/StreamList.h"

// Records what a download tells its host, outcomes included; answers login requests with
// `answer`; hands what the row shows to `rows` when set.
class TestDownloadHost : public DownloadHost {
  public:
    void showTransfer(const DetectedStream& record, const TransferProgress& progress) override {
        if (rows != nullptr) {
            rows->showTransfer(record, progress);
        }
    }

    void showMessage(const std::string& text) override {
        std::lock_guard lock(mutex_);
        messages_.push_back(text);
    }

    bool askLogin(const LoginRequest& request, Credentials& out) override {
        std::lock_guard lock(mutex_);
        logins_.push_back(request);
        if (!answer) {
            return false;
        }
        out = *answer;
        return true;
    }

    void downloadEnded(DetectedStream* record, const DownloadOutcome& outcome) override {
        std::lock_guard lock(mutex_);
        ended_.push_back(record);
        outcomes_.push_back(outcome);
        changed_.notify_all();
    }

    bool waitEnded(std::size_t count,
                   std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, timeout, [&] { return ended_.size() >= count; });
    }

    std::vector<std::string> messages() const {
        std::lock_guard lock(mutex_);
        return messages_;
    }
    std::vector<LoginRequest> logins() const {
        std::lock_guard lock(mutex_);
        return logins_;
    }
    std::vector<DetectedStream*> ended() const {
        std::lock_guard lock(mutex_);
        return ended_;
    }
    std::vector<DownloadOutcome> outcomes() const {
        std::lock_guard lock(mutex_);
        return outcomes_;
    }

    std::optional<Credentials> answer;
    StreamList* rows = nullptr;

  private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> messages_;
    std::vector<LoginRequest> logins_;
    std::vector<DetectedStream*> ended_;
    std::vector<DownloadOutcome> outcomes_;
};

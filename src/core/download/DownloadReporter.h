#pragma once

#include <cstdint>
#include <mutex>
#include <string>

#include "core/download/DownloadOutcome.h"
#include "core/download/TransferProgress.h"

class DownloadHost;
struct DetectedStream;

// What every download worker does alike: keeps its progress as its own value and shows it on
// its row through the host, tells the user of a failure, and ends exactly once. The record is
// the row's; a worker writes only its state through it and takes everything else it needs
// when it starts.
class DownloadReporter {
  public:
    explicit DownloadReporter(DownloadHost& host) : host_(host) {}

    DownloadReporter(const DownloadReporter&) = delete;
    DownloadReporter& operator=(const DownloadReporter&) = delete;

    // Set once, on the owner's thread, before the worker's thread runs. The progress starts
    // where the starter left the row: connecting.
    void attach(DetectedStream& record) {
        record_ = &record;
        progress_.stage = TransferProgress::Stage::kConnecting;
    }
    bool attached() const { return record_ != nullptr; }
    DetectedStream& record() const { return *record_; }
    DownloadHost& host() const { return host_; }

    // The worker's own value: written by its thread only, once that runs.
    TransferProgress& progress() { return progress_; }
    // Hands the progress to the row.
    void show();
    // The record's state and the progress column's stage, then show().
    void show(std::int32_t state, TransferProgress::Stage stage);

    // The template filled with the code, kept as the last error and shown to the user with the
    // detail and the kind of failure; returns the text.
    std::string tell(const char* messageTemplate, long code,
                     FailureCause cause = FailureCause::kUnknown, const std::string& detail = {});
    // The last text told; empty when none. Any thread.
    std::string errorText() const;

    // Tells the failure and ends the download with it: state idle, "失敗", nothing of the
    // transfer left on the row.
    void fail(const char* messageTemplate, long code, std::string detail, FailureCause cause);
    // The one way a started download ends: the record's final state, the progress column's
    // word (kNone keeps it), the row's last refresh, and the host told. Later calls do nothing.
    void finish(std::int32_t state, TransferProgress::Stage stage, const DownloadOutcome& outcome);
    bool ended() const { return ended_; }
    // The download goes on in another worker, which ends it: this one reports nothing more.
    void passOn() { ended_ = true; }

  private:
    DownloadHost& host_;
    DetectedStream* record_ = nullptr;
    TransferProgress progress_;
    bool ended_ = false;
    mutable std::mutex errorMutex_;
    std::string errorText_;  // under errorMutex_
};

#include "core/download/DownloadReporter.h"

#include "core/detect/DetectedStream.h"
#include "core/download/DownloadHost.h"
#include "core/download/DownloadMessages.h"

void DownloadReporter::show() {
    host_.showTransfer(*record_, progress_);
}

void DownloadReporter::show(std::int32_t state, TransferProgress::Stage stage) {
    StoreDownloadState(*record_, state);
    progress_.stage = stage;
    show();
}

std::string DownloadReporter::tell(const char* messageTemplate, long code, FailureCause cause,
                                   const std::string& detail) {
    std::string text = DownloadMessages::Fill(messageTemplate, code);
    {
        std::lock_guard lock(errorMutex_);
        errorText_ = text;
    }
    host_.showFailure(text, detail, cause);
    return text;
}

std::string DownloadReporter::errorText() const {
    std::lock_guard lock(errorMutex_);
    return errorText_;
}

void DownloadReporter::fail(const char* messageTemplate, long code, std::string detail,
                            FailureCause cause) {
    if (ended_) {
        return;
    }
    DownloadOutcome outcome;
    outcome.kind = DownloadOutcome::Kind::kFailed;
    outcome.code = code;
    outcome.cause = cause;
    outcome.message = tell(messageTemplate, code, cause, detail);
    outcome.detail = std::move(detail);
    finish(kStateIdle, TransferProgress::Stage::kFailed, outcome);
}

void DownloadReporter::finish(std::int32_t state, TransferProgress::Stage stage,
                              const DownloadOutcome& outcome) {
    if (ended_) {
        return;
    }
    ended_ = true;
    StoreDownloadState(*record_, state);
    StoreLiveRecording(*record_, false);
    if (stage != TransferProgress::Stage::kNone) {
        progress_.stage = stage;
    }
    if (outcome.kind == DownloadOutcome::Kind::kFailed) {
        progress_.forgetTransfer();
    }
    show();
    host_.downloadEnded(record_, outcome);
}

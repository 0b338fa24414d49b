#include "core/download/common/TransferText.h"

#include "core/download/ProgressWords.h"
#include "core/download/common/TransferFormat.h"

namespace TransferText {

std::string size(const TransferProgress& progress) {
    return progress.size ? FormatSize(*progress.size) : std::string();
}

std::string progress(const TransferProgress& progress) {
    using Stage = TransferProgress::Stage;
    switch (progress.stage) {
        case Stage::kNone:
            return {};
        case Stage::kConnecting:
            return ProgressWords::kConnecting;
        case Stage::kWaiting:
            return ProgressWords::kWaiting;
        case Stage::kPercent:
            return std::to_string(progress.percent) + "%";
        case Stage::kRecorded:
            return FormatTimeLeft(progress.mediaSeconds);
        case Stage::kRetrying:
            return std::string(ProgressWords::kRetry) + " " + std::to_string(progress.tryNumber) +
                   "/" + std::to_string(progress.tryCount);
        case Stage::kPaused:
            return ProgressWords::kPaused;
        case Stage::kComplete:
            return ProgressWords::kComplete;
        case Stage::kCancelled:
            return ProgressWords::kCancel;
        case Stage::kFailed:
            return ProgressWords::kFailed;
    }
    return {};
}

std::string timeLeft(const TransferProgress& progress) {
    return progress.secondsLeft ? FormatTimeLeft(*progress.secondsLeft) : std::string();
}

std::string rate(const TransferProgress& progress) {
    return progress.rate ? FormatRate(*progress.rate) : std::string();
}

Columns of(const TransferProgress& transfer) {
    return {size(transfer), progress(transfer), timeLeft(transfer), rate(transfer)};
}

}  // namespace TransferText

#include "cli/ProgressLinePrinter.h"

#include <cmath>

#include "cli/JsonLine.h"
#include "core/detect/DetectedStream.h"
#include "core/download/common/TransferText.h"

namespace {

// The numbers beside the texts; an amount not known is left out.
void AddNumbers(JsonLine& line, const TransferProgress& progress) {
    line.add("bytesDone", static_cast<std::int64_t>(progress.bytesDone));
    if (progress.total) {
        line.add("total", static_cast<std::int64_t>(*progress.total));
    }
    if (progress.stage == TransferProgress::Stage::kPercent) {
        line.add("percent", progress.percent);
    }
    line.add("elapsedSeconds", progress.elapsedSeconds);
    if (progress.secondsLeft) {
        line.add("secondsLeft", *progress.secondsLeft);
    }
    if (progress.rate) {
        line.add("bytesPerSecond", static_cast<std::int64_t>(std::llround(*progress.rate * 1000)));
    }
    if (progress.mediaSeconds != 0) {
        line.add("mediaSeconds", progress.mediaSeconds);
    }
    if (progress.stage == TransferProgress::Stage::kRetrying) {
        line.add("try", progress.tryNumber).add("tries", progress.tryCount);
    }
}

}  // namespace

std::string ProgressLinePrinter::lineOf(const DetectedStream& record,
                                        const TransferProgress& progress) {
    const TransferText::Columns texts = TransferText::of(progress);
    JsonLine line;
    line.add("state", LoadDownloadState(record))
        .add("sizeText", texts.size)
        .add("progressText", texts.progress)
        .add("timeText", texts.time)
        .add("rateText", texts.rate);
    AddNumbers(line, progress);
    return line.str();
}

int ProgressLinePrinter::addStream(const DetectedStream& /*record*/) {
    return -1;
}

int ProgressLinePrinter::showTransfer(const DetectedStream& record,
                                      const TransferProgress& progress) {
    {
        std::lock_guard lock(mutex_);
        lastShown_ = progress;
    }
    print(lineOf(record, progress));
    return 0;
}

void ProgressLinePrinter::printFinal(const DetectedStream& record) {
    std::lock_guard lock(mutex_);
    std::string line = lineOf(record, lastShown_);
    if (enabled_ && line != lastLine_) {
        std::fprintf(out_, "%s\n", line.c_str());
        std::fflush(out_);
        lastLine_ = line;
    }
}

void ProgressLinePrinter::print(const std::string& line) {
    std::lock_guard lock(mutex_);
    if (!enabled_) {
        return;
    }
    std::fprintf(out_, "%s\n", line.c_str());
    std::fflush(out_);
    lastLine_ = line;
}

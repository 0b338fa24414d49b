#include "cli/ProgressLinePrinter.h"

#include <cstring>
#include <string_view>

#include "cli/JsonLine.h"
#include "core/detect/DetectedStream.h"

namespace {

template <std::size_t N>
std::string_view Field(const char (&text)[N]) {
    return {text, strnlen(text, N)};
}

}  // namespace

std::string ProgressLinePrinter::LineOf(const DetectedStream& record) {
    return JsonLine()
        .add("state", LoadDownloadState(record))
        .add("sizeText", Field(record.sizeText))
        .add("progressText", Field(record.progressText))
        .add("timeText", Field(record.timeText))
        .add("rateText", Field(record.rateText))
        .str();
}

int ProgressLinePrinter::AddOrUpdateStream(const DetectedStream* record, int update) {
    if (update == 1 && record != nullptr) {
        Print(LineOf(*record));
    }
    return 0;
}

void ProgressLinePrinter::PrintFinal(const DetectedStream& record) {
    std::string line = LineOf(record);
    std::lock_guard lock(mutex_);
    if (enabled_ && line != lastLine_) {
        std::fprintf(out_, "%s\n", line.c_str());
        std::fflush(out_);
        lastLine_ = line;
    }
}

void ProgressLinePrinter::Print(const std::string& line) {
    std::lock_guard lock(mutex_);
    if (!enabled_) {
        return;
    }
    std::fprintf(out_, "%s\n", line.c_str());
    std::fflush(out_);
    lastLine_ = line;
}

#include "record/LibraryMessages.h"

extern "C" {
#include <libavutil/log.h>
}
#include <libxml/globals.h>
#include <libxml/xmlerror.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string_view>

#include "core/download/PrintableText.h"

namespace {

constexpr std::size_t kLineLimit = 300;

// Codec threads log too; one lock for the little that is kept.
std::mutex gMutex;
std::string gLastLine;
std::string gPendingXml;  // libxml2 hands a message over in pieces
int gSegmentFailures = 0;

void Keep(std::string_view text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
        text.remove_suffix(1);
    }
    if (text.empty()) {
        return;
    }
    if (text.find("Failed to open segment") != std::string_view::npos ||
        text.find("Failed to open fragment") != std::string_view::npos ||
        text.find("Error when loading first segment") != std::string_view::npos ||
        text.find("Stream ends prematurely") != std::string_view::npos) {
        ++gSegmentFailures;
    }
    gLastLine = PrintableText(text, kLineLimit);
}

void OnLibraryLog(void* object, int level, const char* format, va_list args) {
    if (level > AV_LOG_WARNING) {
        return;
    }
    char line[512];
    int printPrefix = 1;
    av_log_format_line2(object, level, format, args, line, sizeof line, &printPrefix);
    std::lock_guard lock(gMutex);
    Keep(std::string_view(line, ::strnlen(line, sizeof line)));
}

void OnXmlGenericError(void*, const char* format, ...) {
    char piece[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(piece, sizeof piece, format, args);
    va_end(args);
    std::lock_guard lock(gMutex);
    gPendingXml.append(piece, ::strnlen(piece, sizeof piece));
    std::size_t end;
    while ((end = gPendingXml.find('\n')) != std::string::npos) {
        Keep(std::string_view(gPendingXml).substr(0, end));
        gPendingXml.erase(0, end + 1);
    }
    // A message that never ends its line is not held for ever.
    if (gPendingXml.size() > kLineLimit) {
        Keep(gPendingXml);
        gPendingXml.clear();
    }
}

void OnXmlError(void*, xmlErrorPtr error) {
    if (error == nullptr || error->message == nullptr) {
        return;
    }
    std::lock_guard lock(gMutex);
    Keep(std::string("XML: ") + error->message);
}

}  // namespace

void LibraryMessages::install() {
    av_log_set_callback(OnLibraryLog);
    xmlSetGenericErrorFunc(nullptr, OnXmlGenericError);
    xmlSetStructuredErrorFunc(nullptr, OnXmlError);
    // The defaults of threads that libxml2 meets later.
    xmlThrDefSetGenericErrorFunc(nullptr, OnXmlGenericError);
    xmlThrDefSetStructuredErrorFunc(nullptr, OnXmlError);
}

std::string LibraryMessages::lastLine() {
    std::lock_guard lock(gMutex);
    return gLastLine;
}

int LibraryMessages::segmentFailures() {
    std::lock_guard lock(gMutex);
    return gSegmentFailures;
}

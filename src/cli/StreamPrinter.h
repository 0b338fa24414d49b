#pragma once

#include <cstdio>
#include <string>
#include <string_view>

#include "core/detect/DetectedStream.h"
#include "core/detect/StreamFields.h"

// Prints detected streams one line each: as text (URL with its query, suffix and type name,
// tab-separated) or as a JSON object with the fields scheme, host, path, query, url (host,
// path and query), suffix, typeName, srcAddr, dstAddr (dotted IPv4 or RFC 5952 IPv6 text),
// srcPort, dstPort. Text lines show control bytes, C1 controls and invalid UTF-8 as \xNN
// (they come from the wire and must not steer the terminal); JSON escapes them as \u00XX.
// JSON gives the request's referer and userAgent too, never its cookie. The command formats
// print the stream as a curl, ffmpeg or yt-dlp command line quoted for a POSIX shell (see
// StreamCommand), curl's with the cookie only when the record holds one (cookie reuse).
class StreamPrinter {
  public:
    enum class Format { Text, Json, Curl, Ffmpeg, YtDlp };

    // Buffered: lines are collected and written in large blocks (call flush() at the end);
    // otherwise each line is written at once.
    explicit StreamPrinter(Format format, std::FILE* out = stdout, bool buffered = false);
    ~StreamPrinter();
    StreamPrinter(const StreamPrinter&) = delete;
    StreamPrinter& operator=(const StreamPrinter&) = delete;

    // Writes (or collects) one line; false when the output failed.
    bool print(const DetectedStream& stream);
    bool print(const StreamFields& stream);
    // The same for a line made ahead by appendLine() in this printer's format, with its
    // line break.
    bool printMade(std::string_view line);

    // Writes what was collected and flushes the stream; false when the output failed.
    bool flush();

    // The line without its line break.
    static std::string line(const DetectedStream& stream, Format format);

    // Appends the line and its line break: what print() writes.
    static void appendLine(std::string& out, const DetectedStream& stream, Format format);
    static void appendLine(std::string& out, const StreamFields& stream, Format format);

  private:
    static void appendText(std::string& out, const DetectedStream& stream);

    bool writeBuffer();
    template <typename Append>
    bool printAppended(Append append);

    Format format_;
    std::FILE* out_;
    bool buffered_;
    bool failed_ = false;
    std::string buffer_;
};

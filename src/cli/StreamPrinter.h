#pragma once

#include <cstdio>
#include <string>

#include "detect/DetectedStream.h"

// Prints detected streams one line each: as text (URL, suffix and type name, tab-separated)
// or as a JSON object with the fields scheme, host, path, url, suffix, typeName, srcAddr,
// dstAddr, srcPort, dstPort. Texts go out as their bytes; JSON escapes what is not UTF-8.
class StreamPrinter {
  public:
    enum class Format { Text, Json };

    explicit StreamPrinter(Format format, std::FILE* out = stdout);

    // Writes one line; false when the output failed.
    bool print(const DetectedStream& stream);

    // The line without its line break.
    static std::string line(const DetectedStream& stream, Format format);

  private:
    static void appendText(std::string& out, const DetectedStream& stream);
    static void appendJson(std::string& out, const DetectedStream& stream);

    Format format_;
    std::FILE* out_;
    std::string buffer_;
};

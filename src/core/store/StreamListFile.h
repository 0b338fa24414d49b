#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include "core/detect/DetectedStream.h"

// The files a stream list is kept in and opened from: what a file holds, told by its first
// bytes rather than its name, and the writing of a list as JSON lines or CSV.
class StreamListFile {
  public:
    enum class Kind {
        Unknown,    // none of ours: never read, never written over
        Empty,      // an empty file (an empty list)
        JsonLines,  // one StreamJsonLine per line
        Csv,        // the StreamCsvRow header, then its records
        Pcap,
        Pcapng,
    };

    // No record of ours is longer; a longer line is refused without being kept in memory.
    static constexpr std::size_t kMaxRecordBytes = 64 * 1024;

    // What the file at `path` holds; Unknown with `error` when it cannot be read.
    static Kind sniff(const std::string& path, std::string& error);
    // The same from the file's first bytes (up to kMaxRecordBytes + 1 of them, or all).
    static Kind sniffBytes(std::string_view head);

    // Whether a name asks for CSV (it ends in ".csv", in any case).
    static bool namesCsv(std::string_view path);

    // Writes the records `next` gives (false after the last) to `path`, aside and renamed
    // into place, as CSV or JSON lines. False with `error` (Japanese, with the system's
    // reason) when it fails; the file that was there is then untouched.
    static bool save(const std::string& path, bool csv,
                     const std::function<bool(DetectedStream&)>& next, std::string& error);
};

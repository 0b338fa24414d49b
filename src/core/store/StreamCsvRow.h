#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "core/detect/DetectedStream.h"

// One stream as one CSV record (RFC 4180: fields with a comma, quote or line break in quotes,
// quotes doubled, records ending in CRLF), under the header line of the same fields as the
// JSON line. UTF-8: a byte that is no valid UTF-8 is written as U+FFFD, so a list with raw
// bytes from traffic keeps them only in the JSON form. A text that a spreadsheet would take
// as a formula (it starts with "=", "+", "-", "@", a tab or CR) is written after a "'".
// The last two columns, state and localFile, hold a download that ended in its file; lists
// saved before they existed have only the columns in front of them, and read as before.
class StreamCsvRow {
  public:
    // The names of the columns, in order.
    static const std::vector<std::string_view>& columns();
    // How many of them lists had before downloads were kept.
    static constexpr std::size_t kColumnsWithoutDownload = 13;
    // The header record with its CRLF.
    static std::string header();
    // Whether `line` (without its line break) is the header of a list of ours, of now or of
    // before downloads were kept.
    static bool isHeader(std::string_view line);
    // Appends the record with its CRLF.
    static void append(std::string& out, const DetectedStream& stream);

    // Puts a record's fields (one per column, in order; or one per column of a list saved
    // before downloads were kept) into `out`, zeroed first; false with `error` (Japanese) when
    // the record is refused.
    static bool parse(const std::vector<std::string>& fields, DetectedStream& out,
                      std::string& error);
};

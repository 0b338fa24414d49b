#pragma once

#include <string>
#include <string_view>

#include "core/detect/DetectedStream.h"

// The named fields of a saved stream (a JSON line's keys, a CSV file's columns) put back
// into a record, each checked against its field's capacity and form.
class StreamRecordFields {
  public:
    // Clears `out` for a record read from a file.
    static void begin(DetectedStream& out);
    // Sets field `name` from its text. Unknown names are ignored; "url" is derived and
    // ignored too. False with `error` (Japanese) when the value does not fit or has no
    // valid form.
    static bool set(DetectedStream& out, std::string_view name, std::string_view value,
                    std::string& error);
    // Whether `name` is one of the saved fields.
    static bool known(std::string_view name);
    // Checks that the record is whole (scheme, host and path); false with `error` otherwise.
    // A download the record does not keep (see keepsDownload) is dropped: the row is then
    // one not downloaded.
    static bool finish(DetectedStream& out, std::string& error);

    // The "state" of a download that ended in its file; the only state a list keeps. Any other
    // value reads as not downloaded, so that a list with states of a later version still opens.
    static constexpr std::string_view kEndedState = "ended";
    // Whether a list keeps `record`'s download ("state" and "localFile"): it ended, in a file
    // named by an absolute path without control bytes. A running download is not kept: its
    // file is not whole.
    static bool keepsDownload(const DetectedStream& record);
};

#pragma once

#include <string>

#include "core/download/FailureCause.h"

// How one download ended; every started download ends exactly once with one of these.
struct DownloadOutcome {
    enum class Kind {
        kCompleted,  // the whole stream is in the file
        kCancelled,  // the user (or the program's end) stopped it
        kFailed,     // it could not be done; `message` says why
    };

    Kind kind = Kind::kFailed;
    // The code the user's message ends in (an errno, an HTTP status, a libcurl code, an MMS
    // error); 0 when there is none.
    long code = 0;
    // The text the user was shown, empty when none was.
    std::string message;
    // What the system said in its own words (libcurl's error buffer, strerror), for logs and the
    // command line; may be empty.
    std::string detail;
    // Of a failure, what kind it was; kUnknown for the other outcomes.
    FailureCause cause = FailureCause::kUnknown;

    bool completed() const { return kind == Kind::kCompleted; }
};

#pragma once

#include <cstdint>
#include <string>

// How the recorder program ended a recording, as it tells its parent: the parent keeps or
// drops the file and words the cause for the user.
struct RecordEnding {
    enum class Outcome : std::uint8_t {
        kRecorded = 1,     // the file is whole: keep it
        kCancelled = 2,    // stopped before anything worth keeping was written
        kFailed = 3,       // the file is dropped; `cause` says why
        kLoginNeeded = 4,  // the server asked for a login the request did not carry
    };
    enum class Cause : std::uint8_t {
        kNone = 0,
        kConnectFailed,
        kBadStatus,
        kNoResponse,
        kNotPlaylist,
        kSegmentFailed,
        kTransferFailed,
        kCannotContain,
        kSetupFailed,
        kStalled,
        kServerClosed,
        kTooLarge,
        kLast = kTooLarge,
    };

    Outcome outcome = Outcome::kFailed;
    Cause cause = Cause::kNone;
    std::int64_t code = 0;  // the errno, HTTP status or library code the message ends in
    std::string detail;     // the library's words, without control bytes
};

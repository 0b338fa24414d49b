#pragma once

#include <cstdint>

// What kind of failure ended a download, for a front end to explain in the user's words. The
// engine tells the cause; it never words it.
enum class FailureCause : std::uint8_t {
    kUnknown,            // nothing more specific is known than the message says
    kConnectionRefused,  // the server's machine answered but nothing listens on the port
    kUnreachable,        // no route to the server: network down, host or network unreachable
    kNameNotResolved,    // the server's (or proxy's) name has no address
    kTimedOut,           // no answer, or data stopped coming, for too long
    kTransferCut,        // the connection broke or the body ended early, mid-transfer
    kBadReply,           // what came back is no answer of the protocol, or breaks it
    kTls,                // the secure connection failed (certificates included)
    kNotFound,           // HTTP 404 or 410
    kAccessDenied,       // HTTP 401, 403 or 407, or a login refused
    kServerError,        // HTTP 5xx
    kHttpStatus,         // any other status that is not the file
    kTooManyRedirects,
    kBadUrl,      // a URL that cannot be fetched as it is (malformed, or not http/https)
    kDiskFull,    // no space left (or the quota is used up) where the file goes
    kCannotWrite  // the file cannot be created or written there
};

namespace FailureCauses {

// Of a libcurl result; `osErrno` is libcurl's CURLINFO_OS_ERRNO (0 when none), which tells a
// refused connection from an unreachable host.
FailureCause OfCurlCode(int curlCode, long osErrno = 0);

// Of an errno from a socket or from writing the file.
FailureCause OfErrno(int code);

// Of an HTTP status that was not the file.
FailureCause OfHttpStatus(long status);

}  // namespace FailureCauses

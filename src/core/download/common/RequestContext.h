#pragma once

#include <string>

struct DetectedStream;
struct HttpDownloadOptions;

// The header values a download sends on its stream's behalf, from the detected request and
// the options: its Referer and User-Agent unless the options give their own, the captured
// cookie only where the user allows it. Taken once when the download starts, so that a later
// sighting of the stream does not change a running download.
struct RequestContext {
    std::string referer;
    std::string userAgent;
    std::string cookie;

    static RequestContext of(const DetectedStream& record, const HttpDownloadOptions& options);
    // Whether every value can be sent as it is (no control bytes but tab).
    bool sendable() const;
};

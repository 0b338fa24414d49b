#pragma once

#include <optional>
#include <string>

#include "core/download/http/TickSource.h"

// Settings of one HTTP download that the program, the command line or a test may change.
struct HttpDownloadOptions {
    // Unset: the proxy settings of the environment (http_proxy, https_proxy, no_proxy).
    // Empty: no proxy at all. Otherwise the proxy URL to use.
    std::optional<std::string> proxy;
    // Certificate authorities to trust for https, as a PEM file; empty: the system's.
    std::string caFile;
    // A transfer that moves less than one byte per second for this long fails, so that a
    // silent server cannot keep a download open for ever.
    long stallSeconds = 120;
    long connectTimeoutSeconds = 60;
    long maxRedirects = 20;
    std::string userAgent = "Quorvex";
    TickSource ticks = SteadyTickCount;
};

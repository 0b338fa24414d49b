#pragma once

#include <optional>
#include <string>

#include "core/download/common/TickSource.h"

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
    // A transfer that breaks (reset, timeout, 5xx, 429, a body short of or past its announced
    // length) is tried this often in all, waiting retryDelayMillis, then twice as long each
    // time, or what a Retry-After asks (up to maxRetryAfterSeconds). A later try continues the
    // temporary file only where the server proves it sends the same file from that byte on
    // (206 with the matching Content-Range).
    int maxTries = 4;
    long retryDelayMillis = 1000;
    long maxRetryAfterSeconds = 120;
    // Sent when the stream's own request gave none (or sendRequestContext is off).
    std::string userAgent = "Quorvex";
    // Send the detected request's Referer and User-Agent: many media servers answer only a
    // request that carries the page's Referer or the player's User-Agent.
    bool sendRequestContext = true;
    // Send the cookie captured with the request (cookie reuse, off by default: on a shared
    // network it hands a session of someone else's to this download). It goes to the host it
    // was captured for only, never to another that a redirect names.
    bool sendCapturedCookie = false;
    // Given by the user; each replaces the stream's own value. An empty one sends none.
    std::optional<std::string> refererOverride;
    std::optional<std::string> userAgentOverride;
    std::optional<std::string> cookieOverride;
    // A response that is an HLS playlist or DASH manifest by its Content-Type is recorded
    // into one media file rather than saved as the playlist's text.
    bool recordPlaylists = true;
    // Whether the finished file replaces one that has its name by then. Off for a name picked
    // as free on the user's behalf: a file that took the name meanwhile wins, and the download
    // fails rather than replace it.
    bool replaceTarget = true;
    TickSource ticks = SteadyTickCount;
};

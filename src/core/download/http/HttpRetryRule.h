#pragma once

// Which failed tries of an HTTP download may pass when tried again, and how long to wait
// before the next one.
class HttpRetryRule {
  public:
    // A server error or "too many requests" answered before the body: the server may be
    // able to answer later.
    static bool TransientStatus(long status);
    // A broken connection, a timeout or no answer at all (libcurl's codes).
    static bool TransientTransferError(int curlCode);
    // Milliseconds before the next try after `triesDone` tries (at least 1): `baseMillis`,
    // doubling each time, or what the server's Retry-After asks (up to
    // `maxRetryAfterSeconds`) when it came with a 429 or 503 (negative: none came).
    static long WaitMillis(long baseMillis, int triesDone, long status, long retryAfterSeconds,
                           long maxRetryAfterSeconds);
};

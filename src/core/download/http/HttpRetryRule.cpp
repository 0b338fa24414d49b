#include "core/download/http/HttpRetryRule.h"

#include <curl/curl.h>

#include <algorithm>

bool HttpRetryRule::TransientStatus(long status) {
    return status == 429 || status == 500 || status == 502 || status == 503 || status == 504;
}

bool HttpRetryRule::TransientTransferError(int curlCode) {
    return curlCode == CURLE_PARTIAL_FILE || curlCode == CURLE_RECV_ERROR ||
           curlCode == CURLE_SEND_ERROR || curlCode == CURLE_OPERATION_TIMEDOUT ||
           curlCode == CURLE_GOT_NOTHING;
}

long HttpRetryRule::WaitMillis(long baseMillis, int triesDone, long status, long retryAfterSeconds,
                               long maxRetryAfterSeconds) {
    if ((status == 429 || status == 503) && retryAfterSeconds >= 0) {
        return std::min(retryAfterSeconds, maxRetryAfterSeconds) * 1000;
    }
    // The shift stays far below the width of long, however many tries are allowed.
    return baseMillis << std::min(triesDone - 1, 16);
}

#include "core/download/http/HttpRetryRule.h"

#include <curl/curl.h>
#include <gtest/gtest.h>

TEST(HttpRetryRule, PassesOnlyWhatMayPassLater) {
    for (long status : {429L, 500L, 502L, 503L, 504L}) {
        EXPECT_TRUE(HttpRetryRule::TransientStatus(status)) << status;
    }
    for (long status : {200L, 206L, 401L, 403L, 404L, 407L, 416L, 501L, 505L}) {
        EXPECT_FALSE(HttpRetryRule::TransientStatus(status)) << status;
    }
    for (int code : {CURLE_PARTIAL_FILE, CURLE_RECV_ERROR, CURLE_SEND_ERROR,
                     CURLE_OPERATION_TIMEDOUT, CURLE_GOT_NOTHING}) {
        EXPECT_TRUE(HttpRetryRule::TransientTransferError(code)) << code;
    }
    for (int code :
         {CURLE_OK, CURLE_COULDNT_RESOLVE_HOST, CURLE_COULDNT_CONNECT,
          CURLE_PEER_FAILED_VERIFICATION, CURLE_WRITE_ERROR, CURLE_ABORTED_BY_CALLBACK}) {
        EXPECT_FALSE(HttpRetryRule::TransientTransferError(code)) << code;
    }
}

TEST(HttpRetryRule, WaitsLongerEachTimeOrAsTheServerAsks) {
    const struct {
        int triesDone;
        long status;
        long retryAfter;
        long millis;
    } cases[] = {
        {1, 500, -1, 1000},       // the base delay first
        {2, 500, -1, 2000},       // then twice as long each time
        {3, 0, -1, 4000},         // a broken connection alike
        {40, 500, -1, 65536000},  // the doubling stops
        {1, 503, 5, 5000},        // as the server asks
        {3, 429, 0, 0},           // at once, when it asks so
        {1, 429, 999, 120000},    // never longer than the cap
        {1, 500, 5, 1000},        // Retry-After counts with 429 and 503 only
    };
    for (const auto& c : cases) {
        EXPECT_EQ(HttpRetryRule::WaitMillis(1000, c.triesDone, c.status, c.retryAfter, 120),
                  c.millis)
            << c.triesDone << " " << c.status << " " << c.retryAfter;
    }
}

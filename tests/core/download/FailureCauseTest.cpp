#include "core/download/FailureCause.h"

#include <curl/curl.h>
#include <gtest/gtest.h>

#include <cerrno>

namespace {

using C = FailureCause;

// The end-to-end download tests see most kinds; these are the ones they cannot make.
TEST(FailureCausesTest, KindOfEachFailure) {
    EXPECT_EQ(FailureCauses::OfCurlCode(CURLE_COULDNT_CONNECT, EHOSTUNREACH), C::kUnreachable);
    EXPECT_EQ(FailureCauses::OfCurlCode(CURLE_COULDNT_CONNECT, ETIMEDOUT), C::kTimedOut);
    EXPECT_EQ(FailureCauses::OfCurlCode(CURLE_COULDNT_CONNECT, 0), C::kUnknown);
    EXPECT_EQ(FailureCauses::OfCurlCode(CURLE_COULDNT_RESOLVE_HOST), C::kNameNotResolved);
    EXPECT_EQ(FailureCauses::OfCurlCode(CURLE_HTTP2_STREAM), C::kTransferCut);
    EXPECT_EQ(FailureCauses::OfErrno(ENETDOWN), C::kUnreachable);
    EXPECT_EQ(FailureCauses::OfErrno(EDQUOT), C::kDiskFull);
    EXPECT_EQ(FailureCauses::OfErrno(EROFS), C::kCannotWrite);
    EXPECT_EQ(FailureCauses::OfErrno(EIO), C::kUnknown);
    EXPECT_EQ(FailureCauses::OfHttpStatus(410), C::kNotFound);
    EXPECT_EQ(FailureCauses::OfHttpStatus(403), C::kAccessDenied);
    EXPECT_EQ(FailureCauses::OfHttpStatus(429), C::kHttpStatus);
}

}  // namespace

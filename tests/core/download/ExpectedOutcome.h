#pragma once

#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>

#include "core/download/DownloadOutcome.h"

// How a case in a download table expects its download to end.
struct ExpectedOutcome {
    DownloadOutcome::Kind kind = DownloadOutcome::Kind::kCompleted;
    long code = 0;
    std::string message = {};  // exactly the text shown; empty: none
    std::string detail = {};   // found in the outcome's detail; every failure has some detail
    std::optional<FailureCause> cause = {};  // unset: not checked
};

inline ExpectedOutcome Completed() {
    return {};
}

inline ExpectedOutcome Cancelled() {
    return {DownloadOutcome::Kind::kCancelled};
}

// `message` is the whole text shown, code included.
inline ExpectedOutcome Failed(long code, std::string message, std::string detail) {
    return {DownloadOutcome::Kind::kFailed, code, std::move(message), std::move(detail)};
}

// The same failure, of this kind.
inline ExpectedOutcome Because(ExpectedOutcome failure, FailureCause cause) {
    failure.cause = cause;
    return failure;
}

inline std::ostream& operator<<(std::ostream& out, const DownloadOutcome& outcome) {
    static const char* const kKinds[] = {"completed", "cancelled", "failed"};
    return out << kKinds[static_cast<int>(outcome.kind)] << " code " << outcome.code << " message ["
               << outcome.message << "] detail [" << outcome.detail << "] cause "
               << static_cast<int>(outcome.cause);
}

inline void ExpectOutcome(const DownloadOutcome& got, const ExpectedOutcome& want) {
    SCOPED_TRACE(testing::Message() << "outcome: " << got);
    EXPECT_EQ(got.kind, want.kind);
    EXPECT_EQ(got.completed(), want.kind == DownloadOutcome::Kind::kCompleted);
    EXPECT_EQ(got.code, want.code);
    EXPECT_EQ(got.message, want.message);
    if (want.kind == DownloadOutcome::Kind::kFailed) {
        EXPECT_FALSE(got.detail.empty());
        EXPECT_NE(got.detail.find(want.detail), std::string::npos);
    } else {
        EXPECT_EQ(got.detail, "");
        EXPECT_EQ(got.cause, FailureCause::kUnknown);
    }
    if (want.cause) {
        EXPECT_EQ(got.cause, *want.cause);
    }
}

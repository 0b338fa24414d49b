#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core/download/record/RecordPipeFormat.h"
#include "core/download/record/RecordPipeReader.h"

namespace {

using Result = RecordPipeReader::Result;
using Bytes = std::vector<std::uint8_t>;

RecordRequest Request(std::string url, std::string userAgent = "Player/1") {
    RecordRequest request;
    request.kind = RecordKind::kHls;
    request.live = true;
    request.seekable = true;
    request.stallSeconds = 30;
    request.url = std::move(url);
    request.userAgent = std::move(userAgent);
    request.targetName = "out.mkv";
    return request;
}

Bytes Raw(std::initializer_list<int> bytes) {
    return Bytes(bytes.begin(), bytes.end());
}

// Bytes as one side sends them, and what the other side's reader makes of them.
struct PipeCase {
    const char* name;
    Bytes bytes;
    std::vector<Result> results;
};

std::vector<PipeCase> Cases() {
    Bytes request = RecordPipeFormat::requestMessage(Request("http://a/b.m3u8"));
    Bytes end = RecordPipeFormat::endMessage(
        {RecordEnding::Outcome::kFailed, RecordEnding::Cause::kTooLarge, 27, "too large"});
    Bytes both = RecordPipeFormat::progressMessage({100, 2000000, 0});
    both.insert(both.end(), end.begin(), end.end());
    Bytes cut(request.begin(), request.end() - 1);
    Bytes escaped = RecordPipeFormat::requestMessage(Request("http://a/b.m3u8", "A\x1b[2J"));
    Bytes badCause = end;
    badCause[6] = 99;
    return {
        {"Request", request, {Result::kRequest}},
        {"ProgressThenEnd", both, {Result::kProgress, Result::kEnd}},
        {"Alive", RecordPipeFormat::aliveMessage(), {Result::kAlive}},
        {"CutShort", cut, {Result::kNeedMore}},
        {"UnknownType", Raw({9, 0, 0, 0, 0}), {Result::kMalformed}},
        {"AliveWithPayload", Raw({2, 1, 0, 0, 0, 7}), {Result::kMalformed}},
        {"HugeLength", Raw({4, 0xFF, 0xFF, 0xFF, 0x7F}), {Result::kMalformed}},
        {"EscapeInHeader", escaped, {Result::kMalformed}},
        {"UnknownCause", badCause, {Result::kMalformed}},
        {"ShortProgress", Raw({3, 1, 0, 0, 0, 0}), {Result::kMalformed}},
    };
}

TEST(RecordPipeReaderTest, ReadsWhatTheOtherSideSends) {
    for (const PipeCase& c : Cases()) {
        // Whole, and a byte at a time: the pieces never matter.
        for (std::size_t piece : {c.bytes.size(), std::size_t{1}}) {
            RecordPipeReader reader;
            std::vector<Result> seen;
            for (std::size_t at = 0;
                 at < c.bytes.size() && (seen.empty() || seen.back() != Result::kMalformed);
                 at += piece) {
                reader.append(c.bytes.data() + at, std::min(piece, c.bytes.size() - at));
                for (Result r = reader.next(); r != Result::kNeedMore; r = reader.next()) {
                    seen.push_back(r);
                    if (r == Result::kMalformed) {
                        break;  // and so stays
                    }
                }
            }
            if (seen.empty()) {
                seen.push_back(Result::kNeedMore);
            }
            EXPECT_EQ(seen, c.results) << c.name << " in pieces of " << piece;
        }
    }
}

TEST(RecordPipeReaderTest, KeepsEveryFieldOfARequest) {
    RecordRequest sent = Request("https://user:pw@host/live.m3u8");
    sent.referer = "https://page/";
    sent.caFile = "/etc/ca.pem";
    sent.proxy = "http://proxy:3128";
    Bytes bytes = RecordPipeFormat::requestMessage(sent);
    RecordPipeReader reader;
    reader.append(bytes.data(), bytes.size());
    ASSERT_EQ(reader.next(), Result::kRequest);
    const RecordRequest& got = reader.request();
    EXPECT_EQ(got.kind, sent.kind);
    EXPECT_EQ(got.live, sent.live);
    EXPECT_EQ(got.seekable, sent.seekable);
    EXPECT_EQ(got.stallSeconds, sent.stallSeconds);
    for (auto field : {&RecordRequest::url, &RecordRequest::referer, &RecordRequest::userAgent,
                       &RecordRequest::caFile, &RecordRequest::proxy, &RecordRequest::targetName}) {
        EXPECT_EQ(got.*field, sent.*field);
    }
}

}  // namespace

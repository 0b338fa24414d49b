#include "core/capture/CapturePipeReader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core/capture/CapturePipeFormat.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using Result = CapturePipeReader::Result;

Bytes message(std::uint8_t type, const Bytes& payload) {
    Bytes out;
    CapturePipeFormat::appendHeader(out, static_cast<CapturePipeFormat::Type>(type),
                                    static_cast<std::uint32_t>(payload.size()));
    out.insert(out.end(), payload.begin(), payload.end());
    return out;
}

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& part : parts) {
        out.insert(out.end(), part.begin(), part.end());
    }
    return out;
}

Bytes withoutLastByte(Bytes bytes) {
    bytes.pop_back();
    return bytes;
}

Bytes running() {
    return CapturePipeFormat::statusMessage({CaptureStatus::kRunning, "veth0", ""});
}

struct Case {
    const char* name;
    Bytes stream;
    std::vector<Result> results;  // what next() gives, in order, after all bytes arrived
};

std::vector<Case> cases() {
    return {
        {"empty", {}, {Result::kNeedMore}},
        {"running, a packet, counts",
         concat({running(), message(CapturePipeFormat::kPacket, Bytes(20, 0x45)),
                 CapturePipeFormat::statisticsMessage({7, 1, 6})}),
         {Result::kStatus, Result::kPacket, Result::kStatistics, Result::kNeedMore}},
        {"header cut short", {CapturePipeFormat::kPacket, 20, 0}, {Result::kNeedMore}},
        {"payload cut short",
         withoutLastByte(message(CapturePipeFormat::kPacket, Bytes(20, 1))),
         {Result::kNeedMore}},
        {"largest packet",
         message(CapturePipeFormat::kPacket, Bytes(CapturedPacket::kCapacity, 1)),
         {Result::kPacket, Result::kNeedMore}},
        {"datagram over a packet's capacity",
         message(CapturePipeFormat::kPacket, Bytes(CapturedPacket::kCapacity + 1, 1)),
         {Result::kLargePacket, Result::kNeedMore}},
        {"datagram over 65575 bytes announced",
         {CapturePipeFormat::kPacket, 0x28, 0x00, 0x01, 0},
         {Result::kMalformed, Result::kMalformed}},
        {"4 GiB announced",
         {CapturePipeFormat::kStatus, 0xFF, 0xFF, 0xFF, 0xFF},
         {Result::kMalformed}},
        {"empty packet", message(CapturePipeFormat::kPacket, {}), {Result::kMalformed}},
        {"unknown type", message(9, {1, 2, 3}), {Result::kMalformed}},
        {"type zero", Bytes(16, 0), {Result::kMalformed}},
        {"counts of the wrong size",
         message(CapturePipeFormat::kStatistics, Bytes(23, 0)),
         {Result::kMalformed}},
        {"status too short", message(CapturePipeFormat::kStatus, {2, 0, 0}), {Result::kMalformed}},
        {"status idle", message(CapturePipeFormat::kStatus, {0, 0, 0, 0}), {Result::kMalformed}},
        {"status opening", message(CapturePipeFormat::kStatus, {1, 0, 0, 0}), {Result::kMalformed}},
        {"status state out of range",
         message(CapturePipeFormat::kStatus, {5, 0, 0, 0}),
         {Result::kMalformed}},
        {"status cause out of range",
         message(CapturePipeFormat::kStatus, {3, CaptureStatus::kLastCause + 1, 0, 0}),
         {Result::kMalformed}},
        {"name longer than the payload",
         message(CapturePipeFormat::kStatus, {3, 0, 4, 0, 'e', 't'}),
         {Result::kMalformed}},
        {"nothing after a malformed message",
         concat({message(9, {}), running()}),
         {Result::kMalformed, Result::kMalformed}},
    };
}

}  // namespace

TEST(CapturePipeReader, TakesWholeMessagesAndRefusesMalformedOnes) {
    for (const Case& c : cases()) {
        CapturePipeReader reader;
        reader.append(c.stream.data(), c.stream.size());
        for (std::size_t i = 0; i < c.results.size(); ++i) {
            EXPECT_EQ(reader.next(), c.results[i]) << c.name << ", result " << i;
        }
    }
}

// The same stream in pieces of every size gives the same messages.
TEST(CapturePipeReader, MessagesSurviveAnySplit) {
    const CaptureStatus failed{CaptureStatus::kFailed, "eth0", "no permission to capture on eth0",
                               CaptureStatus::Cause::kNoRights};
    const Bytes packet = {0x45, 0, 0, 20, 9, 8, 7};
    // A longer datagram first: none of its bytes may show behind the shorter one.
    const Bytes longer(300, 0x77);
    const Bytes stream = concat({CapturePipeFormat::statusMessage(failed),
                                 message(CapturePipeFormat::kPacket, longer),
                                 message(CapturePipeFormat::kPacket, packet),
                                 CapturePipeFormat::statisticsMessage({1ull << 40, 3, 2})});
    for (std::size_t piece = 1; piece <= stream.size(); ++piece) {
        CapturePipeReader reader;
        std::vector<Result> seen;
        for (std::size_t at = 0; at < stream.size(); at += piece) {
            reader.append(stream.data() + at, std::min(piece, stream.size() - at));
            for (Result r = reader.next(); r != Result::kNeedMore; r = reader.next()) {
                seen.push_back(r);
                if (r == Result::kStatus) {
                    EXPECT_EQ(reader.status().state, CaptureStatus::kFailed);
                    EXPECT_EQ(reader.status().interfaceName, "eth0");
                    EXPECT_EQ(reader.status().message, failed.message);
                    EXPECT_EQ(reader.status().cause, failed.cause);
                } else if (r == Result::kPacket) {
                    const CapturedPacket& got = reader.packet();
                    const Bytes& sent = seen.size() == 2 ? longer : packet;
                    ASSERT_EQ(got.length, sent.size());
                    EXPECT_EQ(Bytes(got.data, got.data + got.length), sent);
                    EXPECT_TRUE(std::all_of(got.data + got.length,
                                            got.data + CapturedPacket::kCapacity,
                                            [](std::uint8_t b) { return b == 0; }));
                } else if (r == Result::kStatistics) {
                    EXPECT_EQ(reader.statistics().received, 1ull << 40);
                    EXPECT_EQ(reader.statistics().dropped, 3u);
                    EXPECT_EQ(reader.statistics().handedOver, 2u);
                }
            }
        }
        EXPECT_EQ(seen, (std::vector<Result>{Result::kStatus, Result::kPacket, Result::kPacket,
                                             Result::kStatistics}))
            << "pieces of " << piece;
        EXPECT_EQ(reader.pending(), 0u);
    }
}

// Overlong texts are cut when written, so what is written is always readable.
TEST(CapturePipeReader, OverlongStatusTextsAreCutToFit) {
    CaptureStatus status{CaptureStatus::kLost, std::string(1000, 'n'), std::string(5000, 'm')};
    Bytes stream = CapturePipeFormat::statusMessage(status);
    CapturePipeReader reader;
    reader.append(stream.data(), stream.size());
    ASSERT_EQ(reader.next(), Result::kStatus);
    EXPECT_EQ(reader.status().interfaceName.size(), CapturePipeFormat::kMaxName);
    EXPECT_EQ(reader.status().message.size(), CapturePipeFormat::kMaxMessage);
}

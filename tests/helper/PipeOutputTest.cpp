#include "helper/PipeOutput.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/capture/CapturePipeReader.h"

namespace {

// One thing the capture tells the output: a packet of this length, a batch end, a status
// report; and the message the parent then reads.
struct Step {
    char what;  // 'p' packet, 'l' datagram over a packet's capacity, 'e' batch end, 's' status
    std::uint32_t length = 0;
};

using Result = CapturePipeReader::Result;

}  // namespace

// Packets are held back until the batch ends or 64 KiB gather; a status report never
// overtakes them; every message arrives whole and in order.
TEST(PipeOutput, CollectedPacketsGoOutInOrderBeforeAnyReport) {
    const std::vector<Step> steps = {
        {'s'},       {'p', 20}, {'p', 2048}, {'e'}, {'p', 1},  {'s'},        {'p', 300},
        {'l', 5000}, {'p', 40}, {'e'},       {'e'}, {'p', 77}, {'l', 65575},
    };
    // Enough packets to pass the 64 KiB mark without a batch end.
    std::vector<Step> script = steps;
    for (int i = 0; i < 70; ++i) {
        script.push_back({'p', 1500});
    }
    script.push_back({'e'});

    int pipeFds[2];
    int wake[2];
    ASSERT_EQ(::pipe2(pipeFds, O_CLOEXEC), 0);
    ASSERT_EQ(::pipe2(wake, O_CLOEXEC | O_NONBLOCK), 0);
    ASSERT_GE(::fcntl(pipeFds[1], F_SETPIPE_SZ, 1 << 20), 1 << 20);
    std::vector<Result> expected;
    {
        PipeOutput output(pipeFds[1], wake[1]);
        CapturedPacket packet;
        for (const Step& step : script) {
            if (step.what == 'p') {
                packet.length = step.length;
                std::memset(packet.data, static_cast<int>(step.length & 0xFF), step.length);
                output.OnCapturedPacket(&packet);
                expected.push_back(Result::kPacket);
            } else if (step.what == 'l') {
                const std::vector<std::uint8_t> datagram(step.length, step.length & 0xFF);
                output.OnLargeDatagram(datagram.data(), step.length);
                expected.push_back(Result::kLargePacket);
            } else if (step.what == 'e') {
                output.OnPacketBatchEnd();
            } else {
                output.OnCaptureStatus({CaptureStatus::kRunning, "veth0", ""});
                expected.push_back(Result::kStatus);
            }
        }
        EXPECT_TRUE(output.WriteStatistics({5, 0, 5}));
        expected.push_back(Result::kStatistics);
        EXPECT_FALSE(output.Failed());
    }
    ::close(pipeFds[1]);

    CapturePipeReader reader;
    std::vector<std::uint8_t> chunk(4096);
    std::vector<Result> seen;
    std::vector<std::uint32_t> lengths;
    for (ssize_t got; (got = ::read(pipeFds[0], chunk.data(), chunk.size())) > 0;) {
        reader.append(chunk.data(), static_cast<std::size_t>(got));
        for (Result r = reader.next(); r != Result::kNeedMore; r = reader.next()) {
            ASSERT_NE(r, Result::kMalformed);
            seen.push_back(r);
            if (r == Result::kPacket) {
                const CapturedPacket& p = reader.packet();
                lengths.push_back(p.length);
                EXPECT_EQ(p.data[p.length - 1], static_cast<std::uint8_t>(p.length & 0xFF));
            } else if (r == Result::kLargePacket) {
                const std::uint32_t length = reader.largeDatagramLength();
                lengths.push_back(length);
                EXPECT_EQ(reader.largeDatagram()[length - 1], length & 0xFF);
            }
        }
    }
    EXPECT_EQ(seen, expected);
    std::vector<std::uint32_t> sent;
    for (const Step& step : script) {
        if (step.what == 'p' || step.what == 'l') {
            sent.push_back(step.length);
        }
    }
    EXPECT_EQ(lengths, sent);
    for (int fd : {pipeFds[0], wake[0], wake[1]}) {
        ::close(fd);
    }
}

#include "core/session/SharedFileDecoding.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "support/PcapFileWriter.h"
#include "support/TestPackets.h"

namespace {

using Seen = std::tuple<int, bool, std::string>;  // row, added, path

// A file of new streams, repeats and other traffic in turn, long enough for many batches.
std::string writeCapture(const std::filesystem::path& dir) {
    const std::string file = (dir / "mixed.pcap").string();
    PcapFileWriter writer(file, 1);
    for (int i = 0; i < 3000; ++i) {
        const std::string path = "/clip" + std::to_string(i % 7 == 0 ? i : i % 50) + ".wmv";
        const std::string payload = i % 5 == 4 ? std::string("no request here")
                                               : "GET " + path + " HTTP/1.1\r\nHost: s\r\n\r\n";
        writer.add(
            test_packets::prepend(test_packets::ethernetHeader(), test_packets::datagram(payload)));
    }
    return file;
}

std::vector<Seen> detectByFeeding(const std::string& file) {
    MonitorSession session{SessionCallbacks{}};
    session.setSuffixTable(SuffixTable::withKnownSuffixes());
    CaptureFileReader reader;
    EXPECT_TRUE(reader.open(file));
    std::vector<CapturedPacket> packets(MonitorSession::kFeedBatch);
    std::vector<MonitorSession::Detection> detections;
    std::vector<Seen> seen;
    for (bool more = true; more;) {
        std::size_t read = 0;
        more = reader.nextBatch(packets, read) == CaptureFileReader::Status::Packet;
        session.feed(std::span(packets.data(), read), detections);
        for (const auto& d : detections) {
            seen.emplace_back(d.row, d.added, d.record().path);
        }
    }
    return seen;
}

std::vector<Seen> detectSharing(const std::string& file, std::size_t batchPackets) {
    MonitorSession session{SessionCallbacks{}};
    session.setSuffixTable(SuffixTable::withKnownSuffixes());
    CaptureFileReader reader;
    EXPECT_TRUE(reader.open(file));
    SharedFileDecoding decoding(session, batchPackets);
    // Lines made ahead are the record's path: each must be its own detection's.
    decoding.setLineMaker(
        [](const StreamFields& stream, std::string& out) { (out += stream.path) += '\n'; }, true);
    CaptureFileReadAhead ahead(reader, batchPackets, decoding.preparation());
    std::vector<MonitorSession::Detection> detections;
    std::vector<Seen> seen;
    for (bool more = true; more;) {
        const CaptureFileReadAhead::Batch& batch = ahead.next();
        session.addDecoded(decoding.decodeRest(batch, ahead.readyAtLastTake()), detections);
        for (std::size_t i = 0; i < detections.size(); ++i) {
            const auto& d = detections[i];
            seen.emplace_back(d.row, d.added, d.record().path);
            const std::string_view made = decoding.madeLine(batch, i);
            EXPECT_TRUE(made.empty() || made == std::string(d.record().path) + "\n") << made;
        }
        more = batch.status == CaptureFileReader::Status::Packet;
    }
    return seen;
}

TEST(SharedFileDecoding, FindsWhatFeedingFindsInTheSameOrder) {
    char pattern[] = "/tmp/quorvex-shared-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string file = writeCapture(pattern);
    const std::vector<Seen> expected = detectByFeeding(file);
    ASSERT_GT(expected.size(), 2000u);
    // The reading thread's share moves within each batch size, down to a single packet.
    for (std::size_t batchPackets : {1, 7, 64}) {
        EXPECT_EQ(detectSharing(file, batchPackets), expected) << batchPackets;
    }
    std::filesystem::remove_all(pattern);
}

}  // namespace

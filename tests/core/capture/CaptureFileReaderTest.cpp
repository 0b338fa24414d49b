#include "core/capture/CaptureFileReader.h"

#include "core/capture/CaptureFileReadAhead.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "core/detect/StreamDecoder.h"
#include "support/PcapFileWriter.h"
#include "support/TestPackets.h"

namespace {

using test_packets::Tcp;

class CaptureFile : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/quorvex-reader-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    std::filesystem::path dir_;
};

// Frames of every kind the filter might wrongly drop or keep.
std::vector<std::vector<std::uint8_t>> assortedFrames() {
    std::vector<std::vector<std::uint8_t>> datagrams;
    constexpr std::uint16_t kPorts[] = {80, 1755, 554, 443, 8080};
    for (std::uint16_t port : kPorts) {
        for (bool toServer : {true, false}) {
            Tcp tcp;
            tcp.srcPort = toServer ? 40000 : port;
            tcp.dstPort = toServer ? port : 40000;
            datagrams.push_back(test_packets::datagram(
                "GET /p" + std::to_string(port) + ".asf HTTP/1.1\r\nHost: S\r\n", tcp));
            datagrams.push_back(test_packets::datagram("", tcp));  // bare ACK
        }
    }
    Tcp udp;
    udp.protocol = 17;
    datagrams.push_back(test_packets::datagram("GET /u.asf HTTP/1.1\r\nHost: S\r\n", udp));
    auto shortOne = test_packets::datagram("GET /s.asf HTTP/1.1\r\nHost: S\r\n");
    shortOne.resize(22);  // ports cut off
    datagrams.push_back(shortOne);
    auto lying = test_packets::datagram("GET /l.asf HTTP/1.1\r\nHost: S\r\n");
    lying[2] = 0;
    lying[3] = 10;  // total length below 20: what was captured counts
    datagrams.push_back(lying);

    std::vector<std::vector<std::uint8_t>> frames;
    for (const auto& d : datagrams) {
        frames.push_back(test_packets::prepend(test_packets::ethernetHeader(), d));
    }
    frames.push_back(test_packets::ethernetHeader());  // no datagram at all
    frames.push_back({0x01, 0x02});                    // runt
    frames.push_back(test_packets::prepend(test_packets::ethernetHeader({0x8100}), datagrams[0]));
    return frames;
}

std::vector<std::string> detect(const std::string& file, bool filtered, int& packets) {
    auto table = SuffixTable::withKnownSuffixes();
    CaptureFileReader reader;
    EXPECT_TRUE(reader.open(file)) << reader.error();
    if (filtered) {
        reader.setFilter([](const std::uint8_t* datagram, std::uint32_t length) {
            return StreamDecoder::worthDecoding(datagram, length, WatchedPorts{});
        });
    }
    std::vector<std::string> found;
    CapturedPacket packet;
    DetectedStream record;
    packets = 0;
    while (reader.next(packet) == CaptureFileReader::Status::Packet) {
        ++packets;
        if (StreamDecoder::decode(packet, *table, nullptr, record) == 0) {
            found.push_back(std::string(record.host) + record.path);
        }
    }
    EXPECT_EQ(reader.next(packet), CaptureFileReader::Status::End);
    return found;
}

TEST_F(CaptureFile, FilterChangesNothingButTheWork) {
    std::string file = (dir_ / "assorted.pcap").string();
    {
        PcapFileWriter writer(file, 1);
        for (const auto& frame : assortedFrames()) {
            writer.add(frame);
        }
    }
    int all = 0;
    int kept = 0;
    auto unfiltered = detect(file, false, all);
    auto filtered = detect(file, true, kept);
    EXPECT_EQ(filtered, unfiltered);
    EXPECT_EQ(unfiltered.size(), 8u);  // both directions of 80, 1755, 554, and the tagged one
    EXPECT_LT(kept, all);
}

TEST_F(CaptureFile, CapturedLengthBoundsTheDatagram) {
    // A frame cut short by the snapshot length hands over only what was captured.
    std::string file = (dir_ / "cut.pcap").string();
    auto frame = test_packets::prepend(test_packets::ethernetHeader(),
                                       test_packets::datagram(std::string(3000, 'x')));
    {
        PcapFileWriter writer(file, 1);
        writer.add(frame.data(), 1000, static_cast<std::uint32_t>(frame.size()));
        writer.add(frame.data(), static_cast<std::uint32_t>(frame.size()));
    }
    CaptureFileReader reader;
    ASSERT_TRUE(reader.open(file));
    // The filter sees a datagram whole, larger than a packet holds (a segment the sender's
    // offload has not split yet, such as a large TLS hello); the packet keeps its capacity.
    std::vector<std::uint32_t> seen;
    reader.setFilter([&seen](const std::uint8_t*, std::uint32_t length) {
        seen.push_back(length);
        return true;
    });
    CapturedPacket packet;
    ASSERT_EQ(reader.next(packet), CaptureFileReader::Status::Packet);
    EXPECT_EQ(packet.length, 1000u - 14u);
    ASSERT_EQ(reader.next(packet), CaptureFileReader::Status::Packet);
    EXPECT_EQ(packet.length, CapturedPacket::kCapacity);
    EXPECT_EQ(seen, (std::vector<std::uint32_t>{1000u - 14u, 3040u}));
}

TEST_F(CaptureFile, OpenFailuresSayWhy) {
    CaptureFileReader reader;
    EXPECT_FALSE(reader.open((dir_ / "missing.pcap").string()));
    EXPECT_NE(reader.error().find("No such file"), std::string::npos) << reader.error();
    std::string ppp = (dir_ / "ppp.pcap").string();
    { PcapFileWriter writer(ppp, 9); }
    EXPECT_FALSE(reader.open(ppp));
    EXPECT_NE(reader.error().find("link type 9"), std::string::npos) << reader.error();
    CapturedPacket packet;
    EXPECT_EQ(reader.next(packet), CaptureFileReader::Status::Error);
}

// What a reader hands over, packet by packet, and how it ends.
struct ReadOutcome {
    std::vector<std::vector<std::uint8_t>> datagrams;
    CaptureFileReader::Status end = CaptureFileReader::Status::Packet;
    std::string error;
};

ReadOutcome readDirectly(const std::string& file) {
    CaptureFileReader reader;
    EXPECT_TRUE(reader.open(file)) << reader.error();
    ReadOutcome out;
    CapturedPacket packet;
    while ((out.end = reader.next(packet)) == CaptureFileReader::Status::Packet) {
        out.datagrams.emplace_back(packet.data, packet.data + packet.length);
    }
    out.error = reader.error();
    return out;
}

ReadOutcome readAhead(const std::string& file, std::size_t batchPackets) {
    CaptureFileReader reader;
    EXPECT_TRUE(reader.open(file)) << reader.error();
    CaptureFileReadAhead ahead(reader, batchPackets);
    ReadOutcome out;
    while (out.end == CaptureFileReader::Status::Packet) {
        const CaptureFileReadAhead::Batch& batch = ahead.next();
        for (std::size_t i = 0; i < batch.count; ++i) {
            const CapturedPacket& packet = batch.packets[i];
            out.datagrams.emplace_back(packet.data, packet.data + packet.length);
        }
        out.end = batch.status;
        out.error = batch.error;
    }
    return out;
}

TEST_F(CaptureFile, ReadingAheadHandsOverTheSamePacketsInOrder) {
    std::string whole = (dir_ / "whole.pcap").string();
    {
        PcapFileWriter writer(whole, 1);
        for (int round = 0; round < 20; ++round) {
            for (const auto& frame : assortedFrames()) {
                writer.add(frame);
            }
        }
    }
    // The same file cut inside its last frame: damaged, read up to the cut.
    std::string cut = (dir_ / "cut.pcap").string();
    std::filesystem::copy_file(whole, cut);
    std::filesystem::resize_file(cut, std::filesystem::file_size(whole) - 7);
    for (const std::string& file : {whole, cut}) {
        ReadOutcome direct = readDirectly(file);
        // One packet a batch, batches ending mid-file, one batch for everything (no larger:
        // every batch in flight has room for that many packets).
        const std::size_t everything = 20 * assortedFrames().size() + 1;
        for (std::size_t batchPackets :
             {std::size_t{1}, std::size_t{3}, std::size_t{64}, everything}) {
            ReadOutcome ahead = readAhead(file, batchPackets);
            EXPECT_EQ(ahead.datagrams, direct.datagrams) << file << " by " << batchPackets;
            EXPECT_EQ(ahead.end, direct.end) << file << " by " << batchPackets;
            EXPECT_EQ(ahead.error, direct.error) << file << " by " << batchPackets;
        }
    }
    EXPECT_EQ(readDirectly(cut).end, CaptureFileReader::Status::Error);
}

TEST_F(CaptureFile, ReadingAheadStopsWhenLeftEarly) {
    std::string file = (dir_ / "long.pcap").string();
    {
        PcapFileWriter writer(file, 1);
        for (int round = 0; round < 200; ++round) {
            for (const auto& frame : assortedFrames()) {
                writer.add(frame);
            }
        }
    }
    CaptureFileReader reader;
    ASSERT_TRUE(reader.open(file));
    CaptureFileReadAhead ahead(reader, 2);
    EXPECT_EQ(ahead.next().count, 2u);
    // Leaving now stops and joins the reading thread, which waits for a free batch.
}

}  // namespace

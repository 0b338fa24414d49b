#include "core/capture/PcapRecordReader.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pcap/pcap.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

// A classic capture file as bytes: its header, then records whose stated captured length
// may differ from the bytes that follow, and the file cut at `cutTail` bytes before its end.
struct FileCase {
    const char* name;
    std::uint32_t magic;
    bool swapped;
    std::uint32_t snaplen;
    std::vector<std::uint32_t> stated;   // each record's captured length as written
    std::vector<std::uint32_t> present;  // the bytes that really follow each header
    std::size_t cutTail;
};

void put32(std::vector<std::uint8_t>& out, std::uint32_t value, bool swapped) {
    if (swapped) {
        value = __builtin_bswap32(value);
    }
    const std::size_t at = out.size();
    out.resize(at + 4);
    std::memcpy(out.data() + at, &value, 4);
}

std::vector<std::uint8_t> fileBytes(const FileCase& c) {
    std::vector<std::uint8_t> out;
    put32(out, c.magic, c.swapped);
    const std::uint32_t version = 2 | (4u << 16);  // major 2, minor 4, each 16 bits
    put32(out, c.swapped ? (version >> 16) | (version << 16) : version, c.swapped);
    put32(out, 0, c.swapped);
    put32(out, 0, c.swapped);
    put32(out, c.snaplen, c.swapped);
    put32(out, 1, c.swapped);  // Ethernet
    for (std::size_t i = 0; i < c.stated.size(); ++i) {
        put32(out, 1000 + static_cast<std::uint32_t>(i), c.swapped);
        put32(out, 0, c.swapped);
        put32(out, c.stated[i], c.swapped);
        put32(out, c.stated[i] + 4, c.swapped);
        for (std::uint32_t b = 0; b < c.present[i]; ++b) {
            out.push_back(static_cast<std::uint8_t>(i * 7 + b));
        }
    }
    out.resize(out.size() - c.cutTail);
    return out;
}

struct Frames {
    std::vector<std::vector<std::uint8_t>> frames;
    bool error = false;
    std::string message;
};

Frames readWithLibrary(const std::string& path) {
    Frames out;
    char error[PCAP_ERRBUF_SIZE];
    pcap_t* handle = pcap_open_offline(path.c_str(), error);
    if (handle == nullptr) {
        out.error = true;
        out.message = error;
        return out;
    }
    pcap_pkthdr* header;
    const u_char* data;
    int result;
    while ((result = pcap_next_ex(handle, &header, &data)) == 1) {
        out.frames.emplace_back(data, data + header->caplen);
    }
    if (result != PCAP_ERROR_BREAK) {
        out.error = true;
        out.message = pcap_geterr(handle);
    }
    pcap_close(handle);
    return out;
}

Frames readWithRecords(const std::string& path) {
    Frames out;
    char error[PCAP_ERRBUF_SIZE];
    pcap_t* handle = pcap_open_offline(path.c_str(), error);  // the limits as the library sets them
    EXPECT_NE(handle, nullptr) << error;
    const auto snapshot = static_cast<std::uint32_t>(pcap_snapshot(handle));
    pcap_close(handle);
    int fd = ::open(path.c_str(), O_RDONLY);
    PcapRecordReader records;
    EXPECT_TRUE(records.open(fd, snapshot, 262144));
    const std::uint8_t* frame;
    std::uint32_t captured;
    PcapRecordReader::Status status;
    while ((status = records.next(frame, captured)) == PcapRecordReader::Status::Frame) {
        out.frames.emplace_back(frame, frame + captured);
    }
    out.error = status == PcapRecordReader::Status::Error;
    out.message = records.error();
    ::close(fd);
    return out;
}

constexpr std::uint32_t kMicro = 0xa1b2c3d4;
constexpr std::uint32_t kNano = 0xa1b23c4d;

const FileCase kCases[] = {
    {"plain", kMicro, false, 65535, {60, 1514, 0, 60}, {60, 1514, 0, 60}, 0},
    {"swapped", kMicro, true, 65535, {60, 70}, {60, 70}, 0},
    {"nanoseconds", kNano, false, 65535, {60, 70}, {60, 70}, 0},
    {"swapped nanoseconds", kNano, true, 65535, {60, 70}, {60, 70}, 0},
    {"longer than the snapshot", kMicro, false, 100, {60, 300, 60}, {60, 300, 60}, 0},
    {"snapshot zero", kMicro, false, 0, {60, 70000}, {60, 70000}, 0},
    {"cut in a frame", kMicro, false, 65535, {60, 70}, {60, 70}, 7},
    {"cut in a header", kMicro, false, 65535, {60, 0}, {60, 0}, 5},
    {"cut at a header's start", kMicro, false, 65535, {60, 60}, {60, 60}, 76},
    {"cut in a frame past the snapshot", kMicro, false, 100, {60, 300}, {60, 300}, 50},
    {"length past the maximum", kMicro, false, 65535, {60, 300000, 60}, {60, 0, 60}, 0},
    {"length past the maximum, large snapshot", kMicro, false, 400000, {60, 300000}, {60, 0}, 0},
    {"many frames across refills", kMicro, false, 262144, std::vector<std::uint32_t>(40, 200000),
     std::vector<std::uint32_t>(40, 200000), 0},
};

TEST(PcapRecordReader, ReadsEveryClassicFileAsTheLibraryDoes) {
    char pattern[] = "/tmp/quorvex-records-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string path = std::string(pattern) + "/f.pcap";
    for (const FileCase& c : kCases) {
        const std::vector<std::uint8_t> bytes = fileBytes(c);
        std::FILE* file = std::fopen(path.c_str(), "wb");
        ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), file), bytes.size());
        std::fclose(file);
        const Frames expected = readWithLibrary(path);
        const Frames got = readWithRecords(path);
        EXPECT_EQ(got.frames, expected.frames) << c.name;
        EXPECT_EQ(got.error, expected.error) << c.name;
        EXPECT_EQ(got.message, expected.message) << c.name;
    }
    std::remove(path.c_str());
    rmdir(pattern);
}

TEST(PcapRecordReader, LeavesOtherFilesToTheLibrary) {
    char path[] = "/tmp/quorvex-records-XXXXXX";
    int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    const std::uint8_t pcapng[24] = {0x0a, 0x0d, 0x0d, 0x0a};
    ASSERT_EQ(write(fd, pcapng, sizeof pcapng), 24);
    PcapRecordReader records;
    EXPECT_FALSE(records.open(fd, 65535, 262144));
    int pipeEnds[2];
    ASSERT_EQ(pipe(pipeEnds), 0);
    EXPECT_FALSE(records.open(pipeEnds[0], 65535, 262144));
    EXPECT_FALSE(records.isOpen());
    ::close(pipeEnds[0]);
    ::close(pipeEnds[1]);
    ::close(fd);
    unlink(path);
}

}  // namespace

#include "core/session/SessionFileLoader.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <string>
#include <thread>

#include "core/detect/SuffixTable.h"
#include "core/session/MonitorSession.h"
#include "core/store/StreamRowView.h"
#include "support/PcapFileWriter.h"
#include "support/TestPackets.h"

namespace {

using Kind = StreamListFile::Kind;

constexpr std::uint32_t kLinkTypeRaw = 101;

class SessionFileLoaderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        session_.setSuffixTable(SuffixTable::withKnownSuffixes());
        char pattern[] = "/tmp/loaderXXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { std::system(("rm -rf '" + dir_ + "'").c_str()); }

    // `count` requests for distinct media files, then `tail` bytes of a cut-off frame.
    std::string capture(int count, int tail = 0) {
        const std::string path = dir_ + "/c.pcap";
        {
            PcapFileWriter writer(path, kLinkTypeRaw);
            for (int i = 0; i < count; ++i) {
                writer.add(test_packets::datagram("GET /v/" + std::to_string(i) +
                                                  ".wmv HTTP/1.1\r\nHost: a.test\r\n\r\n"));
            }
        }
        if (tail > 0) {
            std::ofstream(path, std::ios::app | std::ios::binary) << std::string(tail, '\x7F');
        }
        return path;
    }

    // Runs the loader to its end while another thread reads the rows as a front end does.
    SessionFileLoader::Result load(const std::string& path, Kind kind) {
        SessionFileLoader loader(session_, path, kind);
        std::atomic<bool> done{false};
        std::thread frontEnd([&] {
            StreamRowView texts;
            while (!done.load()) {
                session_.takeChanges();
                session_.rowView(session_.rowCount() - 1, texts);
            }
        });
        loader.start();
        while (!loader.finished()) {
            std::this_thread::yield();
        }
        loader.stop();
        done = true;
        frontEnd.join();
        EXPECT_EQ(loader.bytesDone(), loader.bytesTotal());
        return loader.result();
    }

    std::string dir_;
    MonitorSession session_{SessionCallbacks{}};
};

TEST_F(SessionFileLoaderTest, ACaptureIsDetectedIntoTheList) {
    const SessionFileLoader::Result result = load(capture(5000), Kind::Pcap);
    EXPECT_FALSE(result.failed);
    EXPECT_FALSE(result.stopped);
    EXPECT_EQ(result.rowsAdded, 5000u);
    EXPECT_EQ(session_.rowCount(), 5000);
}

// A damaged file keeps what was read before the damage and says why it stopped.
TEST_F(SessionFileLoaderTest, ADamagedCaptureKeepsTheRowsBeforeTheDamage) {
    const SessionFileLoader::Result result = load(capture(300, 20), Kind::Pcap);
    EXPECT_TRUE(result.failed);
    EXPECT_FALSE(result.error.empty());
    EXPECT_EQ(session_.rowCount(), 300);
}

TEST_F(SessionFileLoaderTest, AListLoadsItsGoodRecordsAndCountsTheOthers) {
    const std::string path = dir_ + "/l.jsonl";
    std::ofstream(path) << R"({"scheme":"http","host":"http://h","path":"/a.wmv"})"
                           "\n"
                        << "{broken\n"
                        << R"({"scheme":"http","host":"http://h","path":"/b.wmv"})"
                           "\n"
                        << R"({"scheme":"http","host":"http://h","path":"/a.wmv"})"
                           "\n";
    const SessionFileLoader::Result result = load(path, Kind::JsonLines);
    EXPECT_FALSE(result.failed);
    EXPECT_EQ(result.rowsAdded, 2u);
    EXPECT_EQ(result.skipped, 1u);
    EXPECT_EQ(result.firstSkippedLine, 2u);
    EXPECT_EQ(session_.rowCount(), 2);
}

TEST_F(SessionFileLoaderTest, StopEndsTheReadingAndKeepsItsRows) {
    SessionFileLoader loader(session_, capture(200000), Kind::Pcap);
    loader.start();
    loader.stop();
    ASSERT_TRUE(loader.finished());
    EXPECT_TRUE(loader.result().stopped);
    EXPECT_EQ(static_cast<std::uint64_t>(session_.rowCount()), loader.result().rowsAdded);
}

}  // namespace

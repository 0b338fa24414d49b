#include "core/tls/KeyLog.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "core/tls/KeyLogFile.h"

namespace {

// Made-up secrets: these lines name no real connection.
const std::string kRandom(64, '1');
const std::string kRandom2(64, '2');
const std::string kSecret32(64, 'a');
const std::string kSecret48(96, 'B');

ClientRandom randomOf(std::uint8_t byte) {
    ClientRandom random;
    random.fill(byte);
    return random;
}

struct LineCase {
    const char* name;
    std::string text;
    KeyLog::Counts counts;
    std::size_t masterSize;     // of the entry for kRandom, if any
    std::size_t clientTraffic;  // CLIENT_TRAFFIC_SECRET_0's size
};

TEST(KeyLog, ReadsLines) {
    const LineCase cases[] = {
        {"master secret", "CLIENT_RANDOM " + kRandom + " " + kSecret48 + "\n", {1, 0, 0}, 48, 0},
        {"traffic secret",
         "CLIENT_TRAFFIC_SECRET_0 " + kRandom + " " + kSecret32 + "\n",
         {1, 0, 0},
         0,
         32},
        {"SHA-384 traffic secret",
         "CLIENT_TRAFFIC_SECRET_0 " + kRandom + " " + kSecret48 + "\n",
         {1, 0, 0},
         0,
         48},
        {"CRLF", "CLIENT_RANDOM " + kRandom + " " + kSecret48 + "\r\n", {1, 0, 0}, 48, 0},
        {"no newline yet", "CLIENT_RANDOM " + kRandom + " " + kSecret48, {0, 0, 0}, 0, 0},
        {"bad hex",
         "CLIENT_RANDOM " + kRandom + " " + kSecret48.substr(2) + "zz\n",
         {0, 0, 1},
         0,
         0},
        {"short random",
         "CLIENT_RANDOM " + kRandom.substr(2) + " " + kSecret48 + "\n",
         {0, 0, 1},
         0,
         0},
        {"short master secret",
         "CLIENT_RANDOM " + kRandom + " " + kSecret32 + "\n",
         {0, 0, 1},
         0,
         0},
        {"odd secret",
         "SERVER_TRAFFIC_SECRET_0 " + kRandom + " " + kSecret32 + "a\n",
         {0, 0, 1},
         0,
         0},
        {"extra field", "CLIENT_RANDOM " + kRandom + " " + kSecret48 + " x\n", {0, 0, 1}, 0, 0},
        {"missing secret", "CLIENT_RANDOM " + kRandom + "\n", {0, 0, 1}, 0, 0},
        {"comment and blank", "# SSL/TLS secrets log file\n\n  \n", {0, 1, 0}, 0, 0},
        {"other label", "EXPORTER_SECRET " + kRandom + " " + kSecret32 + "\n", {0, 1, 0}, 0, 0},
        {"overlong, then good",
         std::string(3000, 'A') + "\nCLIENT_RANDOM " + kRandom + " " + kSecret48 + "\n",
         {1, 0, 1},
         48,
         0},
    };
    for (const LineCase& c : cases) {
        KeyLog keys;
        keys.addText(c.text);
        KeyLog::Counts counts = keys.counts();
        EXPECT_EQ(counts.added, c.counts.added) << c.name;
        EXPECT_EQ(counts.ignored, c.counts.ignored) << c.name;
        EXPECT_EQ(counts.malformed, c.counts.malformed) << c.name;
        std::optional<KeyLogSecrets> found = keys.find(randomOf(0x11));
        EXPECT_EQ(found ? found->masterSecret.size() : 0, c.masterSize) << c.name;
        EXPECT_EQ(found ? found->clientTraffic0.size() : 0, c.clientTraffic) << c.name;
        EXPECT_EQ(keys.generation() != 0, c.counts.added != 0) << c.name;
    }
}

TEST(KeyLog, KeepsAPartialLineUntilItsNewline) {
    KeyLog keys;
    std::string line = "SERVER_HANDSHAKE_TRAFFIC_SECRET " + kRandom + " " + kSecret32 + "\n";
    for (char c : line) {
        keys.addText(std::string_view(&c, 1));
    }
    ASSERT_TRUE(keys.find(randomOf(0x11)));
    EXPECT_EQ(keys.find(randomOf(0x11))->serverHandshakeTraffic.bytes()[0], 0xAA);
    // At the end of a file the last line counts without its newline; a source that starts
    // over forgets it.
    keys.addText("CLIENT_RANDOM " + kRandom2 + " " + kSecret48);
    keys.dropPartialLine();
    keys.endText();
    EXPECT_FALSE(keys.find(randomOf(0x22)));
    keys.addText("CLIENT_RANDOM " + kRandom2 + " " + kSecret48);
    keys.endText();
    EXPECT_TRUE(keys.find(randomOf(0x22)));
}

TEST(KeyLog, DropsTheOldestAndHandsOutUnclaimedEntries) {
    KeyLog keys(3);
    for (char digit : std::string("1234")) {
        keys.addText("CLIENT_RANDOM " + std::string(64, digit) + " " + kSecret48 + "\n");
    }
    EXPECT_EQ(keys.size(), 3u);
    EXPECT_FALSE(keys.find(randomOf(0x11)));
    EXPECT_TRUE(keys.claim(randomOf(0x33)));
    EXPECT_FALSE(keys.claim(randomOf(0x33)));
    EXPECT_FALSE(keys.claim(randomOf(0x11)));
    std::vector<KeyLog::Candidate> candidates = keys.recentUnclaimed(8);
    ASSERT_EQ(candidates.size(), 2u);
    EXPECT_EQ(candidates[0].random, randomOf(0x44));  // newest first
    EXPECT_EQ(candidates[1].random, randomOf(0x22));
    EXPECT_EQ(keys.recentUnclaimed(1).size(), 1u);
}

TEST(KeyLog, OneThreadAddsWhileAnotherLooksUp) {
    KeyLog keys(64);
    auto randomHex = [](int i) {
        std::string hex = std::to_string(1000 + i);
        return hex + std::string(64 - hex.size(), '0');
    };
    std::thread writer([&] {
        for (int i = 0; i < 500; ++i) {
            keys.addText("CLIENT_RANDOM " + randomHex(i) + " " + kSecret48 + "\n");
        }
    });
    ClientRandom last{0x14, 0x99};  // the random of "1499000..."
    while (!keys.find(last)) {
        for (const KeyLog::Candidate& candidate : keys.recentUnclaimed(4)) {
            keys.claim(candidate.random);
        }
    }
    writer.join();
    EXPECT_EQ(keys.size(), 64u);
    EXPECT_EQ(keys.counts().added, 500u);
}

// A folder of its own under the temporary folder, removed with what the test wrote.
struct TempFolder {
    std::filesystem::path path;
    TempFolder() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "quorvex-keylog-XXXXXX").string();
        path = ::mkdtemp(pattern.data());
    }
    ~TempFolder() { std::filesystem::remove_all(path); }
};

// Polls until the bound per poll no longer holds anything back.
KeyLogFile::Result pollAll(KeyLogFile& file, KeyLog& keys) {
    KeyLogFile::Result result = file.poll(keys);
    for (KeyLogFile::Result more = result; more.more;) {
        more = file.poll(keys);
    }
    return result;
}

void writeFile(const std::filesystem::path& path, const std::string& text, bool append) {
    std::ofstream(path, append ? std::ios::app : std::ios::trunc) << text;
}

TEST(KeyLogFile, FollowsAGrowingFileAndStartsOverWhenReplaced) {
    TempFolder folder;
    std::filesystem::path path = folder.path / "keys.log";
    KeyLog keys;
    KeyLogFile file(path, 100);
    EXPECT_EQ(file.poll(keys).status, KeyLogFile::Status::Missing);

    std::string first = "CLIENT_RANDOM " + kRandom + " " + kSecret48;
    writeFile(path, first, false);
    KeyLogFile::Result result = file.poll(keys);
    EXPECT_EQ(result.status, KeyLogFile::Status::Read);
    EXPECT_EQ(result.bytesRead, 100u);  // bounded per poll
    EXPECT_TRUE(result.more);
    EXPECT_EQ(file.poll(keys).bytesRead, first.size() - 100);
    EXPECT_FALSE(keys.find(randomOf(0x11)));  // the line has no newline yet
    writeFile(path, "\n", true);
    EXPECT_FALSE(file.poll(keys).startedOver);
    EXPECT_TRUE(keys.find(randomOf(0x11)));

    // Cut shorter: read from the start again.
    writeFile(path, "CLIENT_TRAFFIC_SECRET_0 " + kRandom2 + " " + kSecret32 + "\n", false);
    result = pollAll(file, keys);
    EXPECT_TRUE(result.startedOver);
    EXPECT_TRUE(keys.find(randomOf(0x22)));

    // Replaced by another file: the new one is read from its start.
    std::filesystem::path next = folder.path / "keys.next";
    writeFile(next, "CLIENT_RANDOM " + std::string(64, '3') + " " + kSecret48 + "\n", false);
    std::filesystem::rename(next, path);
    result = pollAll(file, keys);
    EXPECT_TRUE(result.startedOver);
    EXPECT_TRUE(keys.find(randomOf(0x33)));
    EXPECT_EQ(keys.counts().added, 3u);
}

TEST(KeyLogFile, ReadsAWholeFileOnce) {
    TempFolder folder;
    std::filesystem::path path = folder.path / "keys.log";
    KeyLog keys;
    writeFile(path, "# comment\nCLIENT_RANDOM " + kRandom + " " + kSecret48, false);
    KeyLogFile::Result result = KeyLogFile::readWhole(path, keys);
    EXPECT_EQ(result.status, KeyLogFile::Status::Read);
    EXPECT_TRUE(keys.find(randomOf(0x11)));

    result = KeyLogFile::readWhole(folder.path / "absent.log", keys);
    EXPECT_EQ(result.status, KeyLogFile::Status::Missing);
    EXPECT_NE(result.detail.find("absent.log"), std::string::npos);
    result = KeyLogFile::readWhole(folder.path, keys);
    EXPECT_EQ(result.status, KeyLogFile::Status::Failed);
    EXPECT_FALSE(result.detail.empty());
}

}  // namespace

#include "core/download/mms/CMmsDownload.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "AsfFixture.h"
#include "ExpectedOutcome.h"
#include "MmsExpectedCommands.h"
#include "MmsTestServer.h"
#include "RecordingStreamList.h"
#include "TestDownloadHost.h"
#include "core/detect/DetectedStream.h"
#include "core/download/ProgressWords.h"
#include "support/RefusedPort.h"

namespace {

using namespace mms_expected;
using namespace std::chrono_literals;
using Ending = MmsTestServer::Ending;

const std::string kTryFailed = "ファイルをダウンロード試行中にエラーが発生しました。Error:";
const std::string kConnectFailed = "サーバに接続できませんでした。 ";
const std::string kDownloadFailed = "ダウンロード中にエラーが発生しました。";

ExpectedOutcome TryFailed(int code, std::string detail) {
    return Failed(code, kTryFailed + std::to_string(code), std::move(detail));
}
ExpectedOutcome ConnectFailed(int code, std::string detail) {
    return Failed(code, kConnectFailed + "(" + std::to_string(code) + ")", std::move(detail));
}
ExpectedOutcome DownloadFailed(int code, std::string detail) {
    return Failed(code, kDownloadFailed + "(" + std::to_string(code) + ")", std::move(detail));
}

class CMmsDownloadTest : public testing::Test {
  protected:
    void SetUp() override {
        directory_ = std::filesystem::temp_directory_path() /
                     ("mms-download-" + std::to_string(::getpid()) + "-" +
                      testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(directory_);
        target_ = (directory_ / "out.asf").string();
        PrepareRecord(host_, list_);
    }
    void TearDown() override { std::filesystem::remove_all(directory_); }

    void PrepareRecord(TestDownloadHost& host, RecordingStreamList& list) {
        std::memset(&record_, 0, sizeof record_);
        host.rows = &list;
        record_.state = kStateDownloading;
        std::strcpy(record_.scheme, "mms");
        std::strcpy(record_.path, "/media/clip.asf");
    }
    void SetHost(const std::string& host) {
        std::snprintf(record_.host, sizeof record_.host, "%s", host.c_str());
    }
    static std::vector<std::uint8_t> Read(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    std::vector<std::uint8_t> Target() const { return Read(target_); }

    std::filesystem::path directory_;
    std::string target_;
    DetectedStream record_;
    RecordingStreamList list_;
    TestDownloadHost host_;
};

AsfFixture Fixture(std::uint64_t fileSizeField = 0) {
    AsfFixture fixture;
    fixture.fileSizeField = fileSizeField;
    fixture.Build();
    return fixture;
}

std::string Loopback(const char* scheme, std::uint16_t port) {
    return std::string(scheme) + "://127.0.0.1:" + std::to_string(port);
}

// One download from the scripted server and how it must end. A completed download leaves the
// header and its first `packets` data packets; a failed one leaves the target's name as it
// was (no file, or the user's old one), and the row says "失敗" however far it got.
struct MmsCase {
    const char* name;
    MmsTestServer::Script script;
    ExpectedOutcome outcome;
    std::string progress;        // the row's last progress text
    std::size_t packets = 0;     // data packets in the file, when completed
    std::string host = {};       // empty: the test server; "closed": a port nobody listens on
    std::string localName = {};  // relative to the test directory; empty: out.asf
    std::string path = "/media/clip.asf";
    bool oldFile = false;  // the target holds "precious" before the download
};

std::vector<MmsCase> Cases(const AsfFixture& fixture) {
    auto serving = [&](std::size_t packets, Ending ending) {
        return MmsTestServer::Serving(fixture, packets, ending);
    };
    MmsTestServer::Script malformed;
    malformed.header = AsfFixture::HeaderObject(30, 0);
    malformed.header.insert(malformed.header.end(), {0x01, 0x01});
    const std::size_t all = fixture.packets.size();
    return {
        {"Whole", MmsTestServer::Serving(fixture), Completed(), "完了", all},
        {"EndAfterFourPackets", serving(4, Ending::EndOfStream), Completed(), "完了", 4},
        // The transfer loop's failures: the MMS error code is in the detail.
        {"CloseMidStream", serving(6, Ending::Close),
         Because(DownloadFailed(71, "MMS error -1: the server closed the connection"),
                 FailureCause::kTransferCut),
         "失敗"},
        {"NoSignature", serving(4, Ending::NoSignature),
         DownloadFailed(71, "MMS error -5: a server command without the signature CE FA 0B B0"),
         "失敗"},
        {"UnknownCommand", serving(4, Ending::UnknownCommand),
         DownloadFailed(71, "MMS error -6: an unknown server command 0x0099"), "失敗"},
        {"CommandOver128KiB", serving(4, Ending::HugeCommand),
         DownloadFailed(71, "MMS error -8: a server command larger than 128 KiB"), "失敗"},
        {"DataLengthBelow8", serving(4, Ending::ShortDataLength),
         DownloadFailed(71, "MMS error -8: a data packet shorter than its 8-byte prefix"), "失敗"},
        // Failures before any progress.
        {"MalformedHeader", malformed,
         DownloadFailed(71, "opening the stream: an ASF header object cut short"), "失敗"},
        {"ConnectionRefused",
         {},
         Because(ConnectFailed(111, "connect: Connection refused"),
                 FailureCause::kConnectionRefused),
         "失敗",
         0,
         "closed"},
        {"WrongScheme",
         {},
         ConnectFailed(22, "the URL names no MMS server"),
         "失敗",
         0,
         "http://127.0.0.1"},
        {"NoHostName",
         {},
         ConnectFailed(22, "the URL names no MMS server"),
         "失敗",
         0,
         "mms://:1755"},
        {"FileNotCreatable",
         {},
         TryFailed(2, "open: No such file or directory"),
         "失敗",
         0,
         "",
         "missing/out.asf"},
        {"EmptyPath", {}, TryFailed(22, "no path to ask the server for"), "失敗", 0, "", "", ""},
        // What the user had under the target's name goes only for a complete download.
        {.name = "WholeReplacesTheOldFile",
         .script = MmsTestServer::Serving(fixture),
         .outcome = Completed(),
         .progress = "完了",
         .packets = all,
         .oldFile = true},
        {.name = "CloseMidStreamKeepsTheOldFile",
         .script = serving(6, Ending::Close),
         .outcome = DownloadFailed(71, "MMS error -1: the server closed the connection"),
         .progress = "失敗",
         .oldFile = true},
        {.name = "ConnectionRefusedKeepsTheOldFile",
         .script = {},
         .outcome = ConnectFailed(111, "connect: Connection refused"),
         .progress = "失敗",
         .host = "closed",
         .oldFile = true},
    };
}

TEST_F(CMmsDownloadTest, CaseTable) {
    const AsfFixture fixture = Fixture();
    for (const MmsCase& c : Cases(fixture)) {
        SCOPED_TRACE(c.name);
        TestDownloadHost host;
        RecordingStreamList list;
        PrepareRecord(host, list);
        MmsTestServer server(c.script);
        RefusedPort closed;
        SetHost(c.host.empty()       ? Loopback("mms", server.port())
                : c.host == "closed" ? Loopback("mms", closed.port())
                                     : c.host);
        const std::string target =
            (directory_ / (c.localName.empty() ? "out.asf" : c.localName)).string();
        if (c.oldFile) {
            std::ofstream(target, std::ios::binary) << "precious";
        }
        {
            CMmsDownload download(host);
            download.Start(&record_, c.path, target);
            ASSERT_TRUE(host.waitEnded(1));
            EXPECT_EQ(download.ErrorText(), c.outcome.message);
        }
        ASSERT_EQ(host.outcomes().size(), 1u);
        EXPECT_EQ(host.ended()[0], &record_);
        ExpectOutcome(host.outcomes()[0], c.outcome);
        const bool completed = c.outcome.kind == DownloadOutcome::Kind::kCompleted;
        EXPECT_EQ(host.messages(),
                  completed ? std::vector<std::string>{} : std::vector{c.outcome.message});
        EXPECT_EQ(record_.state, completed ? kStateEnded : kStateIdle);
        EXPECT_EQ(list.last(&record_).progress, c.progress);
        ASSERT_FALSE(list.refreshes().empty());
        EXPECT_EQ(list.refreshes().back().progress, c.progress);
        EXPECT_EQ(list.refreshes().back().state, record_.state);
        if (!completed) {
            EXPECT_EQ(list.refreshes().back().size, "");
        }
        if (completed) {
            const auto whole = fixture.WholeFile();
            const std::size_t kept = fixture.header.size() + c.packets * fixture.packetSize;
            EXPECT_EQ(Read(target), std::vector(whole.begin(), whole.begin() + kept));
        } else if (c.oldFile) {
            EXPECT_EQ(Read(target),
                      std::vector<std::uint8_t>({'p', 'r', 'e', 'c', 'i', 'o', 'u', 's'}));
        } else {
            EXPECT_FALSE(std::filesystem::exists(target));
        }
        std::filesystem::remove(target);
        // No temporary file is left behind.
        EXPECT_TRUE(std::filesystem::is_empty(directory_));
    }
}

TEST_F(CMmsDownloadTest, CompletesWithHeaderAndFullPacketsAtTheChosenPath) {
    AsfFixture fixture = Fixture();
    MmsTestServer::Script script = MmsTestServer::Serving(fixture);
    script.trimPayloads = true;
    script.headerChunks = 2;
    script.pingBetweenChunks = true;
    MmsTestServer server(script);
    SetHost(Loopback("mmst", server.port()));
    const std::uint8_t adapter[] = {0x02, 0x42, 0xAC, 0x11, 0x00, 0x07};
    std::memcpy(record_.adapterInfo, adapter, sizeof adapter);

    CMmsDownload download(host_);
    ASSERT_EQ(download.Start(&record_, record_.path, target_), StartResult::kStarted);
    // A worker runs one download: a second start is refused without a word.
    EXPECT_EQ(download.Start(&record_, record_.path, target_), StartResult::kRefused);
    ASSERT_TRUE(host_.waitEnded(1));

    EXPECT_EQ(record_.state, kStateEnded);
    EXPECT_EQ(list_.last(&record_).progress, "完了");
    EXPECT_TRUE(host_.messages().empty());
    ExpectOutcome(host_.outcomes().at(0), Completed());
    EXPECT_EQ(Target(), fixture.WholeFile());
    auto rows = list_.refreshes();
    ASSERT_FALSE(rows.empty());
    EXPECT_EQ(rows[rows.size() - 2].progress, "100%");
    EXPECT_EQ(rows.back().progress, "完了");

    // The client identifier is the adapter's bytes up to the first zero; Host is the bare name.
    auto commands = server.Commands();
    ASSERT_FALSE(commands.empty());
    EXPECT_EQ(commands[0], Expected(ConnectCommand("\x02\x42\xAC\x11", "127.0.0.1"), 0));
    EXPECT_EQ(commands[2], Expected(OpenFileCommand("/media/clip.asf"), 2));
}

TEST_F(CMmsDownloadTest, UnknownFileSizeShowsOnlyTheRate) {
    AsfFixture fixture = Fixture();
    AsfFixture::Set64(fixture.header, 30 + 40, 0);
    MmsTestServer server(MmsTestServer::Serving(fixture));
    SetHost(Loopback("mms", server.port()));
    std::uint32_t tick = 0;
    CMmsDownload download(host_, [&tick] { return tick += 1500; });
    download.Start(&record_, record_.path, target_);
    ASSERT_TRUE(host_.waitEnded(1));

    auto rows = list_.refreshes();
    ASSERT_GT(rows.size(), 2u);
    for (std::size_t i = 0; i + 1 < rows.size(); ++i) {
        EXPECT_EQ(rows[i].progress, "接続中...");
        EXPECT_EQ(rows[i].size, "");
        EXPECT_EQ(rows[i].time, "");
        EXPECT_NE(rows[i].rate, "");
    }
    EXPECT_EQ(rows.back().progress, "完了");
}

TEST_F(CMmsDownloadTest, SecondsLeftDoNotWrapWhenTheTotalPassesTheFileSize) {
    AsfFixture fixture = Fixture(1000);  // smaller than the header and packets that follow
    MmsTestServer server(MmsTestServer::Serving(fixture));
    SetHost(Loopback("mms", server.port()));
    std::uint32_t tick = 0;
    CMmsDownload download(host_, [&tick] { return tick += 1001; });
    download.Start(&record_, record_.path, target_);
    ASSERT_TRUE(host_.waitEnded(1));
    EXPECT_EQ(list_.last(&record_).time, "0 秒");
    EXPECT_EQ(list_.last(&record_).size, "1000 Byte");
    EXPECT_EQ(record_.state, kStateEnded);
}

TEST_F(CMmsDownloadTest, CancelDuringAStallEndsPromptlyAndKeepsThePartialFile) {
    std::ofstream(target_, std::ios::binary) << "older download";
    AsfFixture fixture = Fixture();
    MmsTestServer server(MmsTestServer::Serving(fixture, 3, Ending::Stall));
    SetHost(Loopback("mmsu", server.port()));
    std::strcpy(record_.scheme, "mmsu");

    CMmsDownload download(host_);
    download.Start(&record_, record_.path, target_);
    const std::size_t expected = fixture.header.size() + 3 * fixture.packetSize;
    // Each packet moves the percentage, so three refreshes mean three packets; then silence.
    ASSERT_TRUE(server.WaitStalled());
    ASSERT_TRUE(list_.waitRefreshes(3));
    ASSERT_EQ(list_.refreshes().size(), 3u);
    ASSERT_FALSE(host_.waitEnded(1, 0ms));
    EXPECT_EQ(download.ErrorText(), "");  // read while the worker runs (for the race checker)

    download.Cancel();  // how soon it ends is the download bench's to measure
    ASSERT_TRUE(host_.waitEnded(1, 5s));

    EXPECT_EQ(record_.state, kStateEnded);
    EXPECT_EQ(list_.last(&record_).progress, "Cancel");
    EXPECT_TRUE(host_.messages().empty());
    ExpectOutcome(host_.outcomes().at(0), Cancelled());
    // The partial data take the target's name, as a cancel keeps its file.
    auto file = Target();
    ASSERT_EQ(file.size(), expected);
    auto whole = fixture.WholeFile();
    EXPECT_TRUE(std::equal(file.begin(), file.end(), whole.begin()));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(directory_),
                            std::filesystem::directory_iterator()),
              1);
}

TEST_F(CMmsDownloadTest, CancelBeforeTheHeaderEndsLikeACancel) {
    MmsTestServer::Script script = MmsTestServer::Serving(Fixture());
    script.stallBeforeHeader = true;
    MmsTestServer server(script);
    SetHost(Loopback("mms", server.port()));
    CMmsDownload download(host_);
    download.Start(&record_, record_.path, target_);
    ASSERT_TRUE(server.WaitStalled());
    download.Cancel();
    ASSERT_TRUE(host_.waitEnded(1, 5s));
    EXPECT_EQ(record_.state, kStateEnded);
    EXPECT_EQ(list_.last(&record_).progress, "Cancel");
    EXPECT_TRUE(host_.messages().empty());
    ExpectOutcome(host_.outcomes().at(0), Cancelled());
    EXPECT_TRUE(std::filesystem::exists(target_));
    EXPECT_EQ(Target().size(), 0u);
}

// A cancel before anything arrived has nothing to keep: an empty file never replaces one of
// the user's.
TEST_F(CMmsDownloadTest, CancelBeforeTheHeaderKeepsTheOldFile) {
    std::ofstream(target_, std::ios::binary) << "precious";
    MmsTestServer::Script script = MmsTestServer::Serving(Fixture());
    script.stallBeforeHeader = true;
    MmsTestServer server(script);
    SetHost(Loopback("mms", server.port()));
    CMmsDownload download(host_);
    download.Start(&record_, record_.path, target_);
    ASSERT_TRUE(server.WaitStalled());
    download.Cancel();
    ASSERT_TRUE(host_.waitEnded(1, 5s));
    EXPECT_EQ(list_.last(&record_).progress, "Cancel");
    ExpectOutcome(host_.outcomes().at(0), Cancelled());
    const std::vector<std::uint8_t> precious = {'p', 'r', 'e', 'c', 'i', 'o', 'u', 's'};
    EXPECT_EQ(Target(), precious);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(directory_),
                            std::filesystem::directory_iterator()),
              1);
}

TEST_F(CMmsDownloadTest, DestroyingARunningDownloadStopsItAndReportsItsEndOnce) {
    MmsTestServer::Script script = MmsTestServer::Serving(Fixture());
    script.stallBeforeHeader = true;
    MmsTestServer server(script);
    SetHost(Loopback("mms", server.port()));
    {
        CMmsDownload download(host_);
        download.Start(&record_, record_.path, target_);
        ASSERT_TRUE(server.WaitStalled());
    }
    ASSERT_EQ(host_.outcomes().size(), 1u);
    ExpectOutcome(host_.outcomes()[0], Cancelled());
    EXPECT_EQ(record_.state, kStateEnded);
}

TEST_F(CMmsDownloadTest, HostFillingItsWholeFieldIsReadWithinIt) {
    std::string host = "mms://127.0.0.1:";
    host.append(DetectedStream::kHostCapacity - host.size(), '9');
    std::memcpy(record_.host, host.data(), sizeof record_.host);  // no terminator
    std::strcpy(record_.typeName, "1/x");  // what a read past the field would find
    CMmsDownload download(host_);
    download.Start(&record_, record_.path, target_);
    ASSERT_TRUE(host_.waitEnded(1));
    ASSERT_EQ(host_.messages().size(), 1u);
    EXPECT_EQ(host_.messages()[0], "サーバに接続できませんでした。 (22)");
    EXPECT_EQ(record_.state, kStateIdle);
    ExpectOutcome(host_.outcomes().at(0), ConnectFailed(22, "the URL names no MMS server"));
}

// A failed download deletes only a file it made: a link chosen as target, and what it points
// to, stay as they were.
TEST_F(CMmsDownloadTest, FailureLeavesALinkedTargetAlone) {
    MmsTestServer::Script script;
    script.header = AsfFixture::HeaderObject(30, 0);
    script.header.insert(script.header.end(), {0x01, 0x01});
    MmsTestServer server(script);
    SetHost(Loopback("mms", server.port()));
    const auto linked = directory_ / "linked.asf";
    std::ofstream(linked, std::ios::binary) << "precious";
    std::filesystem::create_symlink(linked, target_);
    CMmsDownload download(host_);
    download.Start(&record_, record_.path, target_);
    ASSERT_TRUE(host_.waitEnded(1));
    ASSERT_EQ(host_.outcomes().size(), 1u);
    EXPECT_EQ(host_.outcomes()[0].kind, DownloadOutcome::Kind::kFailed);
    EXPECT_TRUE(std::filesystem::is_symlink(target_));
    EXPECT_TRUE(std::filesystem::exists(linked));
    EXPECT_EQ(Read(linked.string()),
              std::vector<std::uint8_t>({'p', 'r', 'e', 'c', 'i', 'o', 'u', 's'}));
}

}  // namespace

#include "core/download/mms/CMmsDownload.h"
#include "core/download/ProgressWords.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <vector>

#include "AsfFixture.h"
#include "MmsExpectedCommands.h"
#include "MmsTestServer.h"
#include "core/detect/DetectedStream.h"
#include "core/download/DownloadHost.h"
#include "core/store/StreamList.h"

namespace {

using namespace mms_expected;
using namespace std::chrono_literals;

// Records every refresh with the texts the row would show.
class RecordingList : public StreamList {
  public:
    struct Row {
        std::int32_t state;
        std::string size, progress, time, rate;
    };
    int AddOrUpdateStream(const DetectedStream* record, int update) override {
        std::lock_guard lock(mutex_);
        if (update == 1) {
            rows_.push_back({record->state, record->sizeText, record->progressText,
                             record->timeText, record->rateText});
        }
        return 0;
    }
    std::vector<Row> rows() {
        std::lock_guard lock(mutex_);
        return rows_;
    }

  private:
    std::mutex mutex_;
    std::vector<Row> rows_;
};

class RecordingHost : public DownloadHost {
  public:
    void showMessage(const std::string& text) override {
        std::lock_guard lock(mutex_);
        messages.push_back(text);
    }
    bool askLogin(const LoginRequest&, Credentials&) override { return false; }
    void downloadEnded(DetectedStream*, const DownloadOutcome&) override {
        std::lock_guard lock(mutex_);
        ++ended;
        changed_.notify_all();
    }
    bool WaitEnded(std::chrono::milliseconds limit = 10s) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, limit, [this] { return ended > 0; });
    }

    std::vector<std::string> messages;
    int ended = 0;

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
};

class CMmsDownloadTest : public testing::Test {
  protected:
    void SetUp() override {
        directory_ = std::filesystem::temp_directory_path() /
                     ("mms-download-" + std::to_string(::getpid()) + "-" +
                      testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(directory_);
        target_ = (directory_ / "out.asf").string();
        std::memset(&record_, 0, sizeof record_);
        record_.ownerList = &list_;
        record_.state = kStateDownloading;
        std::strcpy(record_.progressText, ProgressWords::kConnecting);
        std::strcpy(record_.scheme, "mms");
        std::strcpy(record_.path, "/media/clip.asf");
    }
    void TearDown() override { std::filesystem::remove_all(directory_); }

    void SetHost(const std::string& host) {
        std::snprintf(record_.host, sizeof record_.host, "%s", host.c_str());
    }
    std::vector<std::uint8_t> Target() const {
        std::ifstream in(target_, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    std::filesystem::path directory_;
    std::string target_;
    DetectedStream record_;
    RecordingList list_;
    RecordingHost host_;
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
    download.Start(&record_, record_.path, target_);
    ASSERT_TRUE(host_.WaitEnded());

    EXPECT_EQ(record_.state, kStateEnded);
    EXPECT_STREQ(record_.progressText, "完了");
    EXPECT_TRUE(host_.messages.empty());
    EXPECT_EQ(Target(), fixture.WholeFile());
    auto rows = list_.rows();
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
    ASSERT_TRUE(host_.WaitEnded());

    auto rows = list_.rows();
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
    ASSERT_TRUE(host_.WaitEnded());
    EXPECT_STREQ(record_.timeText, "0 秒");
    EXPECT_STREQ(record_.sizeText, "1000 Byte");
    EXPECT_EQ(record_.state, kStateEnded);
}

TEST_F(CMmsDownloadTest, CancelDuringAStallEndsPromptlyAndKeepsThePartialFile) {
    AsfFixture fixture = Fixture();
    MmsTestServer server(MmsTestServer::Serving(fixture, 3, MmsTestServer::Ending::Stall));
    SetHost(Loopback("mmsu", server.port()));
    std::strcpy(record_.scheme, "mmsu");

    CMmsDownload download(host_);
    download.Start(&record_, record_.path, target_);
    const std::size_t expected = fixture.header.size() + 3 * fixture.packetSize;
    // Each packet moves the percentage, so three refreshes mean three packets; then silence.
    for (int i = 0; i < 500 && list_.rows().size() < 3; ++i) {
        std::this_thread::sleep_for(10ms);
    }
    std::this_thread::sleep_for(50ms);
    ASSERT_EQ(list_.rows().size(), 3u);
    ASSERT_FALSE(host_.WaitEnded(0ms));

    auto before = std::chrono::steady_clock::now();
    download.Cancel();
    ASSERT_TRUE(host_.WaitEnded(5s));
    EXPECT_LT(std::chrono::steady_clock::now() - before, 2s);

    EXPECT_EQ(record_.state, kStateEnded);
    EXPECT_STREQ(record_.progressText, "Cancel");
    EXPECT_TRUE(host_.messages.empty());
    auto file = Target();
    ASSERT_EQ(file.size(), expected);
    auto whole = fixture.WholeFile();
    EXPECT_TRUE(std::equal(file.begin(), file.end(), whole.begin()));
}

TEST_F(CMmsDownloadTest, CancelBeforeTheHeaderEndsLikeACancel) {
    MmsTestServer::Script script = MmsTestServer::Serving(Fixture());
    script.stallBeforeHeader = true;
    MmsTestServer server(script);
    SetHost(Loopback("mms", server.port()));
    CMmsDownload download(host_);
    download.Start(&record_, record_.path, target_);
    std::this_thread::sleep_for(100ms);
    download.Cancel();
    ASSERT_TRUE(host_.WaitEnded(5s));
    EXPECT_EQ(record_.state, kStateEnded);
    EXPECT_STREQ(record_.progressText, "Cancel");
    EXPECT_TRUE(host_.messages.empty());
    EXPECT_TRUE(std::filesystem::exists(target_));
}

TEST_F(CMmsDownloadTest, DestroyingARunningDownloadStopsItAndReportsItsEndOnce) {
    MmsTestServer::Script script = MmsTestServer::Serving(Fixture());
    script.stallBeforeHeader = true;
    MmsTestServer server(script);
    SetHost(Loopback("mms", server.port()));
    {
        CMmsDownload download(host_);
        download.Start(&record_, record_.path, target_);
        std::this_thread::sleep_for(50ms);
    }
    EXPECT_EQ(host_.ended, 1);
    EXPECT_EQ(record_.state, kStateEnded);
}

std::uint16_t ClosedPort() {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), length);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

struct FailureCase {
    const char* name;
    std::string message;    // with the code
    bool serverMalformed;   // a server with an unusable header
    std::string host;       // when not the test server
    std::string localName;  // relative to the test directory; "" = out.asf
    std::string path = "/media/clip.asf";
};

class CMmsDownloadFailure : public CMmsDownloadTest,
                            public testing::WithParamInterface<FailureCase> {};

TEST_P(CMmsDownloadFailure, TellsTheUserAndLeavesNoFileNorConnectingRow) {
    const FailureCase& c = GetParam();
    MmsTestServer::Script script;
    script.header = AsfFixture::HeaderObject(30, 0);
    script.header.insert(script.header.end(), {0x01, 0x01});
    MmsTestServer server(script);
    if (c.host.empty()) {
        SetHost(Loopback("mms", server.port()));
    } else if (c.host == "closed") {
        SetHost(Loopback("mms", ClosedPort()));
    } else {
        SetHost(c.host);
    }
    std::string target = c.localName.empty() ? target_ : (directory_ / c.localName).string();

    CMmsDownload download(host_);
    download.Start(&record_, c.path, target);
    ASSERT_TRUE(host_.WaitEnded());
    ASSERT_EQ(host_.messages.size(), 1u);
    EXPECT_EQ(host_.messages[0], c.message);
    EXPECT_EQ(download.errorText(), c.message);
    EXPECT_EQ(host_.ended, 1);
    EXPECT_EQ(record_.state, kStateIdle);
    EXPECT_STREQ(record_.progressText, "失敗");
    EXPECT_FALSE(std::filesystem::exists(target));
    ASSERT_FALSE(list_.rows().empty());
    EXPECT_EQ(list_.rows().back().progress, "失敗");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CMmsDownloadFailure,
    testing::Values(
        FailureCase{"MalformedHeader", "ダウンロード中にエラーが発生しました。(71)", true, "", ""},
        FailureCase{"ConnectionRefused", "サーバに接続できませんでした。 (111)", false, "closed",
                    ""},
        FailureCase{"WrongScheme", "サーバに接続できませんでした。 (22)", false, "http://127.0.0.1",
                    ""},
        FailureCase{"NoHostName", "サーバに接続できませんでした。 (22)", false, "mms://:1755", ""},
        FailureCase{"FileNotCreatable",
                    "ファイルをダウンロード試行中にエラーが発生しました。Error:2", false, "",
                    "missing/out.asf"},
        FailureCase{"EmptyPath", "ファイルをダウンロード試行中にエラーが発生しました。Error:22",
                    false, "", "", ""}),
    [](const testing::TestParamInfo<FailureCase>& info) { return std::string(info.param.name); });

TEST_F(CMmsDownloadTest, HostFillingItsWholeFieldIsReadWithinIt) {
    std::string host = "mms://127.0.0.1:";
    host.append(DetectedStream::kHostCapacity - host.size(), '9');
    std::memcpy(record_.host, host.data(), sizeof record_.host);  // no terminator
    std::strcpy(record_.typeName, "1/x");  // what a read past the field would find
    CMmsDownload download(host_);
    download.Start(&record_, record_.path, target_);
    ASSERT_TRUE(host_.WaitEnded());
    ASSERT_EQ(host_.messages.size(), 1u);
    EXPECT_EQ(host_.messages[0], "サーバに接続できませんでした。 (22)");
    EXPECT_EQ(record_.state, kStateIdle);
}

TEST_F(CMmsDownloadTest, CloseMidStreamFailsAndKeepsTheLastPercentage) {
    AsfFixture fixture = Fixture();
    MmsTestServer server(MmsTestServer::Serving(fixture, 6, MmsTestServer::Ending::Close));
    SetHost(Loopback("mms", server.port()));
    CMmsDownload download(host_);
    download.Start(&record_, record_.path, target_);
    ASSERT_TRUE(host_.WaitEnded());
    ASSERT_EQ(host_.messages.size(), 1u);
    EXPECT_EQ(host_.messages[0], "ダウンロード中にエラーが発生しました。(71)");
    EXPECT_EQ(record_.state, kStateIdle);
    const std::uint64_t total = fixture.header.size() + 6ull * fixture.packetSize;
    const std::uint64_t percent = total * 100 / fixture.WholeFile().size();
    EXPECT_EQ(std::string(record_.progressText), std::to_string(percent) + "%");
    EXPECT_FALSE(std::filesystem::exists(target_));
}

}  // namespace

#include "core/download/DownloadStarter.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "RecordingStreamList.h"
#include "TestDownloadHost.h"
#include "core/detect/DetectedStream.h"
#include "core/download/DownloadWorker.h"
#include "support/FixtureServer.h"

namespace fs = std::filesystem;

namespace {

class DownloadStarterTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::memset(&record, 0, sizeof record);
        std::string pattern = (fs::temp_directory_path() / "quorvex-start-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir = pattern;
        HttpDownloadOptions options;
        options.proxy = "";
        host.rows = &list;
        starter = std::make_unique<DownloadStarter>(host, options);
    }
    void TearDown() override { fs::remove_all(dir); }

    void setUrl(const char* scheme, const std::string& hostName, const std::string& path) {
        std::strcpy(record.scheme, scheme);
        std::strcpy(record.host, hostName.c_str());
        std::strcpy(record.path, path.c_str());
    }

    DetectedStream record;
    RecordingStreamList list;
    TestDownloadHost host;
    fs::path dir;
    std::unique_ptr<DownloadStarter> starter;
};

TEST_F(DownloadStarterTest, PreparesTheRecordAndDownloads) {
    FixtureServer server;
    ASSERT_TRUE(server.running());
    setUrl("http", server.url(""), "/file/a.wmv?size=2048");
    std::string target = (dir / "a.wmv").string();
    auto worker = starter->Start(record, target);
    ASSERT_NE(worker, nullptr);
    EXPECT_EQ(std::string(record.localFile), target);
    ASSERT_TRUE(host.waitEnded(1));
    auto refreshes = list.refreshes(&record);
    ASSERT_GE(refreshes.size(), 2u);
    EXPECT_EQ(refreshes.front().progress, "接続中...");
    EXPECT_EQ(refreshes.front().state, kStateDownloading);
    EXPECT_EQ(record.state, kStateEnded);
    EXPECT_EQ(list.last(&record).progress, "完了");
    EXPECT_EQ(fs::file_size(target), 2048u);
}

TEST_F(DownloadStarterTest, FailedStartLeavesNoRowWaiting) {
    setUrl("http", "http://127.0.0.1:9", "/a.wmv");
    auto worker = starter->Start(record, (dir / "missing" / "a.wmv").string());
    EXPECT_EQ(worker, nullptr);
    EXPECT_EQ(record.state, kStateIdle);
    EXPECT_EQ(list.last(&record).progress, "");
    ASSERT_EQ(host.messages().size(), 1u);
    EXPECT_EQ(host.messages()[0], "ダウンロードするファイルを開けませんでした。 (2)");
    EXPECT_EQ(list.refreshes(&record).back().state, kStateIdle);
}

TEST_F(DownloadStarterTest, PathTooLongForTheRecordIsRefusedWhole) {
    setUrl("http", "http://127.0.0.1:9", "/a.wmv");
    record.state = kStateEnded;
    std::string target = "/tmp/" + std::string(DetectedStream::kLocalFileCapacity, 'x');
    EXPECT_EQ(starter->Start(record, target), nullptr);
    ASSERT_EQ(host.messages().size(), 1u);
    EXPECT_EQ(host.messages()[0], "ダウンロードするファイルを開けませんでした。 (36)");
    EXPECT_EQ(record.state, kStateEnded);
    EXPECT_STREQ(record.localFile, "");
    EXPECT_TRUE(list.refreshes().empty());
}

TEST_F(DownloadStarterTest, SchemesThatAreNotDownloadedStartNothing) {
    for (const char* scheme : {"", "ftp", "file"}) {
        setUrl(scheme, "rtsp://127.0.0.1", "/a.wmv");
        EXPECT_EQ(starter->Start(record, (dir / "a").string()), nullptr);
        EXPECT_EQ(record.state, kStateIdle);
    }
    EXPECT_TRUE(host.messages().empty());
    EXPECT_TRUE(list.refreshes().empty());
}

TEST(DownloadStarterUrl, HostFollowedDirectlyByPath) {
    DetectedStream record{};
    std::strcpy(record.host, "http://example.com:8080");
    std::strcpy(record.path, "/a/b.wmv?x=1");
    EXPECT_EQ(DownloadStarter::UrlOf(record), "http://example.com:8080/a/b.wmv?x=1");
}

}  // namespace

#include "core/download/http/CHttpDownload.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <thread>

#include "support/FixtureServer.h"
#include "RecordingStreamList.h"
#include "TestDownloadHost.h"
#include "core/detect/DetectedStream.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

const std::string kBadStatus = "サーバから有効なHTTP応答が返りませんでした。";
const std::string kTransferFailed = "ダウンロード中にエラーが発生しました。";
const std::string kConnectFailed = "サーバに接続できませんでした。 ";
const std::string kNoResponse = "サーバーから有効な応答を受け取りませんでした。";
const std::string kFileOpenFailed = "ダウンロードするファイルを開けませんでした。 ";

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void PrepareRecord(DetectedStream& record, StreamList* list) {
    std::memset(&record, 0, sizeof record);
    record.ownerList = list;
    record.state = kStateDownloading;
    std::strcpy(record.progressText, "接続中...");
}

class HttpDownloadTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(server.running()) << "python3 fixture server did not start";
        std::string pattern = (fs::temp_directory_path() / "quorvex-http-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir = pattern;
        target = dir / "out.bin";
        PrepareRecord(record, &list);
        options.proxy = "";  // never a proxy of the environment, only the ones a test names
    }

    void TearDown() override {
        download.reset();
        fs::remove_all(dir);
    }

    int start(const std::string& url) {
        download = std::make_unique<CHttpDownload>(host, options);
        return download->Start(&record, url, target.string());
    }

    // Runs one download to its end; false when it did not end in time.
    bool run(const std::string& path) {
        if (start(server.url(path)) != 0) {
            return false;
        }
        return host.waitEnded(1);
    }

    void expectFailure(const std::string& message) {
        ASSERT_EQ(host.messages().size(), 1u);
        EXPECT_EQ(host.messages()[0], message);
        EXPECT_EQ(record.state, kStateIdle);
        EXPECT_FALSE(fs::exists(target));
        ASSERT_EQ(host.ended().size(), 1u);
        EXPECT_EQ(host.ended()[0], &record);
    }

    FixtureServer server;
    fs::path dir;
    fs::path target;
    DetectedStream record;
    RecordingStreamList list;
    TestDownloadHost host;
    HttpDownloadOptions options;
    std::unique_ptr<CHttpDownload> download;
};

struct SuccessCase {
    const char* path;
    std::size_t size;
    bool withLogin;
};

TEST_F(HttpDownloadTest, CompleteBodiesArriveWhole) {
    const SuccessCase cases[] = {
        {"/file/a.wmv?size=200000", 200000, false},
        {"/file/empty.wmv?size=0", 0, false},
        {"/nolen/b.wmv?size=70000", 70000, false},
        {"/chunked/b.wmv?size=50000", 50000, false},
        {"/redirect/file/c.wmv?size=5000", 5000, false},
        {"/auth/d.wmv?size=3000", 3000, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        TestDownloadHost caseHost;
        RecordingStreamList caseList;
        PrepareRecord(record, &caseList);
        if (c.withLogin) {
            caseHost.answer = DownloadHost::Credentials{"user", "secret"};
        }
        CHttpDownload worker(caseHost, options);
        ASSERT_EQ(worker.Start(&record, server.url(c.path), target.string()), 0);
        ASSERT_TRUE(caseHost.waitEnded(1));
        EXPECT_TRUE(caseHost.messages().empty());
        EXPECT_EQ(record.state, kStateEnded);
        EXPECT_STREQ(record.progressText, "完了");
        EXPECT_EQ(ReadFile(target), FixtureServer::Pattern(c.size));
        EXPECT_EQ(caseHost.logins().size(), c.withLogin ? 1u : 0u);
        auto refreshes = caseList.refreshes();
        ASSERT_FALSE(refreshes.empty());
        EXPECT_EQ(refreshes.back().state, kStateEnded);
        EXPECT_EQ(refreshes.back().progress, "完了");
    }
}

struct FailureCase {
    const char* path;
    std::string message;
    std::optional<DownloadHost::Credentials> login;
};

// Each ends with its message, state 0, no file left, and one end report.
TEST_F(HttpDownloadTest, FailuresDeleteTheFileAndReportOnce) {
    const FailureCase cases[] = {
        {"/status/404", kBadStatus + "(404)", std::nullopt},
        {"/status/500", kBadStatus + "(500)", std::nullopt},
        {"/auth/x.wmv", kBadStatus + "(401)", std::nullopt},  // login dismissed
        {"/auth/x.wmv", kBadStatus + "(401)", DownloadHost::Credentials{"user", "wrong"}},
        {"/early/x.wmv?size=100000&after=1000", kTransferFailed + "(18)", std::nullopt},
        {"/redirect-file", kConnectFailed + "(1)", std::nullopt},
        {"/loop", kConnectFailed + "(47)", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        TestDownloadHost caseHost;
        caseHost.answer = c.login;
        PrepareRecord(record, &list);
        CHttpDownload worker(caseHost, options);
        ASSERT_EQ(worker.Start(&record, server.url(c.path), target.string()), 0);
        ASSERT_TRUE(caseHost.waitEnded(1));
        ASSERT_EQ(caseHost.messages().size(), 1u);
        EXPECT_EQ(caseHost.messages()[0], c.message);
        EXPECT_EQ(worker.errorText(), c.message);
        EXPECT_EQ(record.state, kStateIdle);
        // Neither claimed as complete nor left claiming to connect.
        std::string progress = record.progressText;
        EXPECT_TRUE(progress != "完了" && progress != "接続中...") << progress;
        EXPECT_FALSE(fs::exists(target));
        EXPECT_EQ(caseHost.ended().size(), 1u);
    }
}

TEST_F(HttpDownloadTest, LoginIsAskedOnceWithStatusAndRealm) {
    host.answer = DownloadHost::Credentials{"user", "wrong"};
    ASSERT_TRUE(run("/auth/x.wmv"));
    auto logins = host.logins();
    ASSERT_EQ(logins.size(), 1u);
    EXPECT_EQ(logins[0].status, 401);
    EXPECT_EQ(logins[0].realm, "test");
    EXPECT_EQ(logins[0].url, server.url("/auth/x.wmv"));
    expectFailure(kBadStatus + "(401)");
}

TEST_F(HttpDownloadTest, ProxyLoginOn407) {
    options.proxy = server.url("");
    host.answer = DownloadHost::Credentials{"user", "secret"};
    ASSERT_EQ(start("http://media.example.invalid/file/p.wmv?size=4000"), 0);
    ASSERT_TRUE(host.waitEnded(1));
    ASSERT_EQ(host.logins().size(), 1u);
    EXPECT_EQ(host.logins()[0].status, 407);
    EXPECT_EQ(host.logins()[0].realm, "proxy");
    EXPECT_TRUE(host.messages().empty());
    EXPECT_EQ(ReadFile(target), FixtureServer::Pattern(4000));
}

TEST_F(HttpDownloadTest, ProxyLoginRefusedIsAFailure) {
    options.proxy = server.url("");
    ASSERT_EQ(start("http://media.example.invalid/file/p.wmv"), 0);
    ASSERT_TRUE(host.waitEnded(1));
    expectFailure(kBadStatus + "(407)");
}

TEST_F(HttpDownloadTest, GarbageReplyIsNoValidResponse) {
    ASSERT_TRUE(run("/garbage"));
    ASSERT_EQ(host.messages().size(), 1u);
    EXPECT_EQ(host.messages()[0].rfind(kNoResponse, 0), 0u) << host.messages()[0];
    EXPECT_FALSE(fs::exists(target));
    EXPECT_EQ(record.state, kStateIdle);
}

TEST_F(HttpDownloadTest, RefusedConnection) {
    int probe = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(bind(probe, reinterpret_cast<sockaddr*>(&address), length), 0);
    getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length);
    close(probe);  // nothing listens there now
    ASSERT_EQ(start("http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/x.wmv"), 0);
    ASSERT_TRUE(host.waitEnded(1));
    expectFailure(kConnectFailed + "(7)");
}

TEST_F(HttpDownloadTest, StallWithoutCancelEndsAsTimeout) {
    options.stallSeconds = 1;
    ASSERT_TRUE(run("/stall/s.wmv?size=100000&after=1&hold=20"));
    expectFailure(kTransferFailed + "(28)");
}

TEST_F(HttpDownloadTest, SlowTrickleShowsPercentRateAndTime) {
    ASSERT_TRUE(run("/slow/t.wmv?size=1500&rate=1000"));
    EXPECT_EQ(ReadFile(target), FixtureServer::Pattern(1500));
    auto refreshes = list.refreshes(&record);
    int percents = 0;
    bool sampled = false;
    for (const auto& r : refreshes) {
        percents += r.progress.ends_with("%") ? 1 : 0;
        EXPECT_NE(r.progress, "0%");
        sampled = sampled || (!r.rate.empty() && !r.time.empty() && r.size == "1.5 KB");
    }
    EXPECT_GE(percents, 5);  // 15 blocks; a loaded machine may join a few
    EXPECT_TRUE(sampled);
    EXPECT_STREQ(record.progressText, "完了");
}

TEST_F(HttpDownloadTest, WithoutLengthNoPercentSizeOrTime) {
    ASSERT_TRUE(run("/nolen/n.wmv?size=300000"));
    for (const auto& r : list.refreshes(&record)) {
        EXPECT_FALSE(r.progress.ends_with("%"));
        EXPECT_EQ(r.size, "");
        EXPECT_EQ(r.time, "");
    }
    EXPECT_STREQ(record.progressText, "完了");
}

// Waits until the worker has written its first block.
bool WaitForProgress(const RecordingStreamList& list, const DetectedStream& record) {
    for (int i = 0; i < 400; ++i) {
        for (const auto& r : list.refreshes(&record)) {
            if (r.progress.ends_with("%")) {
                return true;
            }
        }
        std::this_thread::sleep_for(10ms);
    }
    return false;
}

TEST_F(HttpDownloadTest, CancelOfStalledTransferIsPrompt) {
    options.stallSeconds = 60;
    ASSERT_EQ(start(server.url("/stall/c.wmv?size=100000&after=5000&hold=30")), 0);
    ASSERT_TRUE(WaitForProgress(list, record));
    auto before = std::chrono::steady_clock::now();
    download->Cancel();
    ASSERT_TRUE(host.waitEnded(1, std::chrono::seconds(10)));
    // Far below the server's 30 s silence and the 60 s stall limit.
    EXPECT_LT(std::chrono::steady_clock::now() - before, 5s);
    EXPECT_TRUE(host.messages().empty());
    EXPECT_EQ(record.state, kStateEnded);
    EXPECT_STREQ(record.progressText, "Cancel");
    EXPECT_FALSE(fs::exists(target));
    EXPECT_EQ(host.ended().size(), 1u);
}

TEST_F(HttpDownloadTest, CancelBeforeTheTransferDeletesTheFile) {
    ASSERT_EQ(start(server.url("/hang?hold=30")), 0);
    std::this_thread::sleep_for(200ms);
    download->Cancel();
    ASSERT_TRUE(host.waitEnded(1, std::chrono::seconds(10)));
    EXPECT_TRUE(host.messages().empty());
    EXPECT_EQ(record.state, kStateIdle);
    EXPECT_STREQ(record.progressText, "Cancel");
    EXPECT_FALSE(fs::exists(target));
}

TEST_F(HttpDownloadTest, DestroyingARunningDownloadStopsIt) {
    ASSERT_EQ(start(server.url("/hang?hold=30")), 0);
    auto before = std::chrono::steady_clock::now();
    download.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - before, 5s);
    EXPECT_EQ(host.ended().size(), 1u);
}

TEST_F(HttpDownloadTest, TwoDownloadsAtOnceEachUpdateTheirOwnRecord) {
    DetectedStream second;
    PrepareRecord(second, &list);
    fs::path secondTarget = dir / "second.bin";
    CHttpDownload first(host, options);
    CHttpDownload other(host, options);
    ASSERT_EQ(first.Start(&record, server.url("/slow/1.wmv?size=1200&rate=1000"), target.string()),
              0);
    ASSERT_EQ(
        other.Start(&second, server.url("/slow/2.wmv?size=2400&rate=2000"), secondTarget.string()),
        0);
    ASSERT_TRUE(host.waitEnded(2));
    EXPECT_EQ(ReadFile(target), FixtureServer::Pattern(1200));
    EXPECT_EQ(ReadFile(secondTarget), FixtureServer::Pattern(2400));
    EXPECT_STREQ(record.progressText, "完了");
    EXPECT_STREQ(second.progressText, "完了");
    EXPECT_EQ(list.refreshes(&record).back().size, "1.2 KB");
    EXPECT_EQ(list.refreshes(&second).back().size, "2.3 KB");
}

// A failed write shows the system's cause; a target that is not a regular file (here a link to
// /dev/full) is never deleted.
TEST_F(HttpDownloadTest, WriteFailureShowsTheCauseAndSparesSpecialFiles) {
    if (!fs::exists("/dev/full")) {
        GTEST_SKIP() << "no /dev/full";
    }
    fs::path link = dir / "full";
    fs::create_symlink("/dev/full", link);
    download = std::make_unique<CHttpDownload>(host, options);
    ASSERT_EQ(download->Start(&record, server.url("/file/w.wmv?size=100000"), link.string()), 0);
    ASSERT_TRUE(host.waitEnded(1));
    ASSERT_EQ(host.messages().size(), 1u);
    EXPECT_EQ(host.messages()[0], kTransferFailed + "(28)");
    EXPECT_EQ(record.state, kStateIdle);
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_TRUE(fs::exists("/dev/full"));
}

TEST(HttpsDownload, VerifiedCertificateOnlyAndHttpsAllowed) {
    FixtureServer tlsServer(60, true);
    ASSERT_TRUE(tlsServer.running());
    std::string pattern = (fs::temp_directory_path() / "quorvex-https-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    fs::path dir = pattern;
    std::string target = (dir / "s.wmv").string();
    for (bool trusted : {true, false}) {
        SCOPED_TRACE(trusted);
        DetectedStream record;
        RecordingStreamList list;
        TestDownloadHost host;
        PrepareRecord(record, &list);
        HttpDownloadOptions options;
        options.proxy = "";
        if (trusted) {
            options.caFile = FixtureServer::CertificateFile();
        }
        CHttpDownload download(host, options);
        ASSERT_EQ(download.Start(&record, tlsServer.url("/file/s.wmv?size=3000"), target), 0);
        ASSERT_TRUE(host.waitEnded(1));
        if (trusted) {
            EXPECT_TRUE(host.messages().empty());
            EXPECT_EQ(ReadFile(target), FixtureServer::Pattern(3000));
        } else {
            ASSERT_EQ(host.messages().size(), 1u);
            EXPECT_EQ(host.messages()[0], kConnectFailed + "(60)");
            EXPECT_FALSE(fs::exists(target));
        }
    }
    fs::remove_all(dir);
}

struct StartFailure {
    std::string url;
    bool emptyTarget;
    bool missingFolder;
    std::string message;
};

// A Start that fails tells the user, creates no file and reports no end.
TEST_F(HttpDownloadTest, StartRefusals) {
    const StartFailure cases[] = {
        {"", false, false, kConnectFailed + "(3)"},
        {"file:///etc/hostname", false, false, kConnectFailed + "(1)"},
        {"ftp://127.0.0.1/x.wmv", false, false, kConnectFailed + "(1)"},
        {"http://127.0.0.1/x.wmv", true, false, kFileOpenFailed + "(2)"},
        {"http://127.0.0.1/x.wmv", false, true, kFileOpenFailed + "(2)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url);
        TestDownloadHost caseHost;
        CHttpDownload worker(caseHost, options);
        std::string path = c.emptyTarget     ? std::string()
                           : c.missingFolder ? (dir / "missing" / "x.bin").string()
                                             : target.string();
        EXPECT_EQ(worker.Start(&record, c.url, path), -1);
        ASSERT_EQ(caseHost.messages().size(), 1u);
        EXPECT_EQ(caseHost.messages()[0], c.message);
        EXPECT_FALSE(fs::exists(target));
        EXPECT_TRUE(caseHost.ended().empty());
    }
}

TEST_F(HttpDownloadTest, UrlWithoutSchemeIsTakenAsHttp) {
    std::string url = server.url("/file/s.wmv?size=100").substr(7);  // drop "http://"
    ASSERT_EQ(start(url), 0);
    ASSERT_TRUE(host.waitEnded(1));
    EXPECT_EQ(ReadFile(target), FixtureServer::Pattern(100));
}

}  // namespace

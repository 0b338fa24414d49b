#include <gtest/gtest.h>
#include <poll.h>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "CliProcess.h"
#include "cli/DownloadUrl.h"
#include "cli/ProgressLinePrinter.h"
#include "cli/TerminalDownloadHost.h"
#include "core/detect/DetectedStream.h"
#include "support/FixtureServer.h"
#include "support/RefusedPort.h"

namespace fs = std::filesystem;

namespace {

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

struct SplitCase {
    const char* url;
    bool ok;
    const char* scheme;
    const char* host;
    const char* path;
};

TEST(DownloadUrl, SplitsIntoHostAsWrittenAndPath) {
    const SplitCase cases[] = {
        {"http://example.com/a/b.wmv?x=1", true, "http", "http://example.com", "/a/b.wmv?x=1"},
        {"HTTPS://Example.com:8443/v.asf", true, "https", "HTTPS://Example.com:8443", "/v.asf"},
        {"mms://media.example:1755/live", true, "mms", "mms://media.example:1755", "/live"},
        {"http://example.com", true, "http", "http://example.com", ""},
        {"http://example.com?q", true, "http", "http://example.com", "?q"},
        {"example.com/a.wmv", false, "", "", ""},
        {"http:///a.wmv", false, "", "", ""},
        {"://x/y", false, "", "", ""},
        {"ht tp://x/y", false, "", "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url);
        auto split = DownloadUrl::Split(c.url);
        ASSERT_EQ(split.has_value(), c.ok);
        if (c.ok) {
            EXPECT_EQ(split->scheme, c.scheme);
            EXPECT_EQ(split->host, c.host);
            EXPECT_EQ(split->path, c.path);
        }
    }
}

TEST(ProgressLinePrinter, LineCarriesStateColumnTextsAndTheirNumbers) {
    DetectedStream record{};
    record.state = 1;
    TransferProgress progress;
    progress.stage = TransferProgress::Stage::kPercent;
    progress.percent = 37;
    progress.size = 1536;
    progress.total = 1536;
    progress.bytesDone = 568;
    progress.secondsLeft = 125;
    progress.rate = 1.0;
    progress.elapsedSeconds = 3;
    EXPECT_EQ(ProgressLinePrinter::lineOf(record, progress),
              R"({"state":1,"sizeText":"1.5 KB","progressText":"37%","timeText":"2分 5秒",)"
              R"("rateText":"1.00 KB/S","bytesDone":568,"total":1536,"percent":37,)"
              R"("elapsedSeconds":3,"secondsLeft":125,"bytesPerSecond":1000})");
}

// The exit status is judged from the outcome the host keeps, not from the row's texts.
TEST(TerminalDownloadHost, KeepsTheOutcomeAndSignalsTheEnd) {
    TerminalDownloadHost host(std::nullopt);
    ASSERT_TRUE(host.ok());
    EXPECT_FALSE(host.ended());
    EXPECT_FALSE(host.outcome().has_value());
    pollfd ended{host.endedFd(), POLLIN, 0};
    EXPECT_EQ(poll(&ended, 1, 0), 0);

    DownloadOutcome outcome{DownloadOutcome::Kind::kFailed, 404, "message", "HTTP/1.1 404"};
    host.downloadEnded(nullptr, outcome);
    EXPECT_TRUE(host.ended());
    EXPECT_EQ(poll(&ended, 1, 0), 1);
    ASSERT_TRUE(host.outcome().has_value());
    EXPECT_EQ(host.outcome()->kind, DownloadOutcome::Kind::kFailed);
    EXPECT_EQ(host.outcome()->code, 404);
    EXPECT_EQ(host.outcome()->message, "message");
    EXPECT_EQ(host.outcome()->detail, "HTTP/1.1 404");
}

class DownloadCommandTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(server.running());
        std::string pattern = (fs::temp_directory_path() / "quorvex-cli-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir = pattern;
        output = (dir / "out.wmv").string();
    }
    void TearDown() override { fs::remove_all(dir); }

    FixtureServer server;
    fs::path dir;
    std::string output;
};

struct RunCase {
    std::string path;  // a fixture route, or a whole URL
    std::vector<std::string> extra;
    int exitCode;
    std::string lastLineHas;
    std::string stderrHas;
    std::size_t fileSize;     // 0: the target is as it was before
    std::string before = {};  // what the target holds before; empty: there is none
};

TEST_F(DownloadCommandTest, ExitStatusMessagesAndLastLine) {
    const RunCase cases[] = {
        {"/file/a.wmv?size=50000", {}, 0, R"({"state":2,)", "", 50000},
        {"/status/404",
         {},
         1,
         R"({"state":0,)",
         "サーバから有効なHTTP応答が返りませんでした。(404)",
         0},
        {"/auth/a.wmv",
         {},
         1,
         R"({"state":0,)",
         "サーバから有効なHTTP応答が返りませんでした。(401)",
         0},
        {"/auth/a.wmv?size=777",
         {"--user", "user", "--password", "secret"},
         0,
         R"("progressText":"完了")",
         "",
         777},
        {"/auth/a.wmv", {"--user", "user", "--password", "nope"}, 1, R"({"state":0,)", "(401)", 0},
        {"/early/a.wmv?size=90000&after=100",
         {},
         1,
         R"({"state":0,)",
         "ダウンロード中にエラーが発生しました。(18)",
         0},
        {"/redirect-file", {}, 1, R"({"state":0,)", "サーバに接続できませんでした。 (1)", 0},
        // The login goes to the host that asks for it, behind a redirect too.
        {"/redirect-host/localhost/auth/a.wmv?size=777",
         {"--user", "user", "--password", "secret"},
         0,
         R"("progressText":"完了")",
         "",
         777},
        // Only a complete download replaces the file the user had.
        {"/file/a.wmv?size=5000", {}, 0, R"({"state":2,)", "", 5000, "precious"},
        {"/status/404", {}, 1, R"({"state":0,)", "(404)", 0, "precious"},
        // A server that does not keep to the length it announced gets no file committed.
        {"/reset/a.wmv?size=1000&after=500&range=short",
         {},
         1,
         R"({"state":0,)",
         "(18)",
         0,
         "precious"},
        {"/chunked/a.wmv?size=5500&length=1000", {}, 1, R"({"state":0,)", "(8)", 0, "precious"},
        {"http://127.0.0.1:REFUSED/a.wmv",
         {},
         1,
         R"({"state":0,)",
         "サーバに接続できませんでした。 (7)",
         0,
         "precious"},
        {"mms://127.0.0.1:REFUSED/a.asf",
         {},
         1,
         R"({"state":0,)",
         "サーバに接続できませんでした。 (111)",
         0,
         "precious"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        if (!c.before.empty()) {
            std::ofstream(output, std::ios::binary) << c.before;
        }
        RefusedPort closed;
        std::string url = c.path.find("://") != std::string::npos ? c.path : server.url(c.path);
        if (std::size_t at = url.find("REFUSED"); at != std::string::npos) {
            url.replace(at, 7, std::to_string(closed.port()));
        }
        std::vector<std::string> args{"download", url, "--output", output, "--progress"};
        args.insert(args.end(), c.extra.begin(), c.extra.end());
        CliProcess cli(args);
        ASSERT_TRUE(cli.started());
        EXPECT_EQ(cli.Finish(), c.exitCode) << cli.errors();
        ASSERT_FALSE(cli.lines().empty());
        for (const auto& line : cli.lines()) {
            EXPECT_EQ(line.rfind(R"({"state":)", 0), 0u) << line;
        }
        EXPECT_NE(cli.lines().back().find(c.lastLineHas), std::string::npos) << cli.lines().back();
        EXPECT_NE(cli.errors().find(c.stderrHas), std::string::npos) << cli.errors();
        if (c.fileSize != 0) {
            EXPECT_EQ(ReadFile(output), FixtureServer::Pattern(c.fileSize));
        } else if (c.before.empty()) {
            EXPECT_FALSE(fs::exists(output));
        } else {
            EXPECT_EQ(ReadFile(output), c.before);
        }
        // No temporary file is left beside the target.
        for (const auto& entry : fs::directory_iterator(dir)) {
            EXPECT_EQ(entry.path().string(), output);
        }
        fs::remove(output);
    }
}

// Killed mid-transfer (power loss, kill -9), a download leaves the target as it was: absent,
// or the old file; never a new one cut short. Its temporary file may stay behind.
TEST_F(DownloadCommandTest, KilledMidTransferLeavesTheTargetAsItWas) {
    for (const std::string before : {"", "precious"}) {
        SCOPED_TRACE(before);
        if (!before.empty()) {
            std::ofstream(output, std::ios::binary) << before;
        }
        CliProcess cli({"download", server.url("/slow/k.wmv?size=100000&rate=20000"), "--output",
                        output, "--progress"});
        std::string line;
        bool progressed = false;
        while (!progressed && cli.ReadLine(line)) {
            progressed = line.find("%\"") != std::string::npos;
        }
        ASSERT_TRUE(progressed);
        cli.Signal(SIGKILL);
        EXPECT_EQ(cli.Finish(), -1);
        if (before.empty()) {
            EXPECT_FALSE(fs::exists(output));
        } else {
            EXPECT_EQ(ReadFile(output), before);
        }
        const fs::path part = dir / ".out.wmv.part";
        ASSERT_TRUE(fs::exists(part));
        EXPECT_GT(fs::file_size(part), 0u);
        EXPECT_LT(fs::file_size(part), 100000u);
        fs::remove(part);
        fs::remove(output);
    }
}

TEST_F(DownloadCommandTest, SignalCancelsWith130) {
    for (int signal : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(signal);
        CliProcess cli({"download", server.url("/stall/s.wmv?size=100000&after=2000&hold=30"),
                        "--output", output, "--progress"});
        std::string line;
        bool progressed = false;
        while (!progressed && cli.ReadLine(line)) {
            progressed = line.find("%\"") != std::string::npos;
        }
        ASSERT_TRUE(progressed);
        cli.Signal(signal);
        EXPECT_EQ(cli.Finish(), 130);
        EXPECT_TRUE(cli.lines().back().starts_with(
            R"({"state":2,"sizeText":"","progressText":"Cancel","timeText":"","rateText":"",)"))
            << cli.lines().back();
        EXPECT_FALSE(fs::exists(output));
    }
}

TEST_F(DownloadCommandTest, WithoutProgressNothingOnStdout) {
    CliProcess cli({"download", server.url("/file/q.wmv?size=1000"), "--output", output});
    EXPECT_EQ(cli.Finish(), 0);
    EXPECT_TRUE(cli.lines().empty());
    EXPECT_EQ(fs::file_size(output), 1000u);
}

TEST_F(DownloadCommandTest, FromAnIpv6LiteralHostWithItsQuery) {
    FixtureServer six(60, false, true);
    ASSERT_TRUE(six.running());
    const std::string url = six.url("/file/six.wmv?size=1000&sig=a%2Fb");
    ASSERT_EQ(url.rfind("http://[::1]:", 0), 0u);
    CliProcess cli({"download", url, "--output", output});
    EXPECT_EQ(cli.Finish(), 0) << cli.errors();
    EXPECT_EQ(fs::file_size(output), 1000u);
    std::vector<std::string> requests = six.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].rfind("GET /file/six.wmv?size=1000&sig=a%2Fb HTTP/1.1\r\n", 0), 0u)
        << requests[0];
}

// The server wants the player's Referer and User-Agent; the cookie goes to the URL's host and
// not on to the host a redirect names.
TEST_F(DownloadCommandTest, SendsTheGivenRefererUserAgentAndCookie) {
    CliProcess refused({"download", server.url("/player/p.mp4?size=700"), "--output", output});
    EXPECT_EQ(refused.Finish(), 1);
    EXPECT_FALSE(fs::exists(output));

    const std::size_t earlier = server.Requests().size();
    CliProcess cli({"download", server.url("/redirect-host/localhost/player/p.mp4?size=700"),
                    "--output", output, "--referer", "http://page.example/watch", "--user-agent",
                    "Player/3 (\"quoted\")", "--cookie", "sid=abc"});
    EXPECT_EQ(cli.Finish(), 0) << cli.errors();
    EXPECT_EQ(ReadFile(output), FixtureServer::Pattern(700));
    std::vector<std::string> requests = server.Requests();
    ASSERT_EQ(requests.size(), earlier + 2);
    for (std::size_t i = earlier; i < requests.size(); ++i) {
        EXPECT_NE(requests[i].find("\r\nReferer: http://page.example/watch\r\n"), std::string::npos)
            << requests[i];
        EXPECT_NE(requests[i].find("\r\nUser-Agent: Player/3 (\"quoted\")\r\n"), std::string::npos)
            << requests[i];
    }
    EXPECT_NE(requests[earlier].find("\r\nCookie: sid=abc\r\n"), std::string::npos)
        << requests[earlier];
    EXPECT_EQ(requests[earlier + 1].find("Cookie"), std::string::npos) << requests[earlier + 1];
}

TEST_F(DownloadCommandTest, LoginFromTheTerminal) {
    CliProcess cli({"download", server.url("/auth/t.wmv?size=500"), "--output", output}, true);
    ASSERT_TRUE(cli.WaitForError("ユーザー名: "));
    EXPECT_NE(cli.errors().find("(401) test"), std::string::npos) << cli.errors();
    cli.WriteInput("user\n");
    ASSERT_TRUE(cli.WaitForError("パスワード: "));
    cli.WriteInput("secret\n");
    EXPECT_EQ(cli.Finish(), 0) << cli.errors();
    EXPECT_EQ(fs::file_size(output), 500u);
}

// Behind a redirect the prompt names the server that asks, and the login goes there.
TEST_F(DownloadCommandTest, LoginPromptNamesTheHostThatAsked) {
    CliProcess cli({"download", server.url("/redirect-host/localhost/auth/t.wmv?size=600"),
                    "--output", output},
                   true);
    ASSERT_TRUE(cli.WaitForError("ユーザー名: "));
    const std::string asked =
        "http://localhost:" + std::to_string(server.port()) + "/auth/t.wmv?size=600";
    EXPECT_NE(cli.errors().find("(401) test: " + asked), std::string::npos) << cli.errors();
    cli.WriteInput("user\n");
    ASSERT_TRUE(cli.WaitForError("パスワード: "));
    cli.WriteInput("secret\n");
    EXPECT_EQ(cli.Finish(), 0) << cli.errors();
    EXPECT_EQ(ReadFile(output), FixtureServer::Pattern(600));
}

TEST_F(DownloadCommandTest, InterruptDuringTheLoginPrompt) {
    CliProcess cli({"download", server.url("/auth/t.wmv"), "--output", output}, true);
    ASSERT_TRUE(cli.WaitForError("ユーザー名: "));
    cli.Signal(SIGINT);
    EXPECT_EQ(cli.Finish(), 130) << cli.errors();
    EXPECT_FALSE(fs::exists(output));
}

TEST(DownloadCommandArguments, RefusedWithExit2) {
    const std::vector<std::vector<std::string>> cases = {
        {"download"},
        {"download", "http://127.0.0.1:9/a.wmv"},
        {"download", "http://127.0.0.1:9/a.wmv", "--output"},
        {"download", "http://127.0.0.1:9/a.wmv", "--output", "x", "--user", "u"},
        {"download", "mms://127.0.0.1/a.asf", "--output", "x", "--adapter", "no-such-adapter"},
        {"download", "ftp://127.0.0.1/a.asf", "--output", "x"},
        {"download", "not a url", "--output", "x"},
        {"download", "http://127.0.0.1/" + std::string(300, 'a'), "--output", "x"},
        // A line break in a header would add headers of its own.
        {"download", "http://127.0.0.1:9/a.wmv", "--output", "x", "--referer", "a\r\nX: y"},
        {"download", "http://127.0.0.1:9/a.wmv", "--output", "x", "--user-agent", "u\n"},
        {"download", "http://127.0.0.1:9/a.wmv", "--output", "x", "--cookie", "a=1\x1b"},
    };
    for (const auto& args : cases) {
        SCOPED_TRACE(args.size() > 1 ? args[1] : args[0]);
        CliProcess cli(args);
        EXPECT_EQ(cli.Finish(), 2);
        EXPECT_NE(cli.errors().find("quorvex-cli download: "), std::string::npos);
    }
}

}  // namespace

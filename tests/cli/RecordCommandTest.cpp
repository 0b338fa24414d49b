#include <gtest/gtest.h>
#include <signal.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "CliProcess.h"
#include "support/CaseName.h"
#include "support/ScriptServer.h"

namespace {

namespace fs = std::filesystem;

struct RecordRun {
    const char* name;
    bool rtsp;  // the RTSP fixture, else the playlist fixture
    const char* path;
    std::vector<std::string> extra;
    const char* signalAfter;  // SIGINT once a progress line holds this; nullptr: none
    int exitCode;
    const char* lastProgress;
    bool fileKept;
};

// clang-format off
const RecordRun kRuns[] = {
    {"VodToTheEnd", false, "/vod/index.m3u8", {}, nullptr, 0, "完了", true},
    {"VodInterruptedIsCancelled", false, "/slow/vod/index.m3u8", {}, "%\"", 130, "Cancel", false},
    {"LiveInterruptedIsComplete", false, "/live/index.m3u8", {}, "秒\"", 0, "完了", true},
    {"RtspInterruptedIsComplete", true, "/live", {}, "秒\"", 0, "完了", true},
    {"RtspWithLogin", true, "/live", {"--user", "user", "--password", "secret"}, "秒\"", 0,
     "完了", true},
};
// clang-format on

class RecordCommandTest : public ::testing::TestWithParam<RecordRun> {};

TEST_P(RecordCommandTest, ExitStatusAndFile) {
    const RecordRun& run = GetParam();
    if (std::system("ffmpeg -version >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "ffmpeg is not installed";
    }
    if (run.rtsp && std::system("/usr/bin/python3 -c \"import gi; "
                                "gi.require_version('GstRtspServer', '1.0')\" 2>/dev/null") != 0) {
        GTEST_SKIP() << "GStreamer's RTSP server for python3 is not installed";
    }
    std::string pattern = (fs::temp_directory_path() / "quorvex-rec-cli-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    const fs::path dir = pattern;
    fs::create_directory(dir / "media");
    std::vector<std::string> serverArgs{"60"};
    if (!run.rtsp) {
        serverArgs.push_back((dir / "media").string());
    } else if (!run.extra.empty()) {
        serverArgs.insert(serverArgs.end(), {"--auth", "user:secret"});
    }
    auto server = std::make_unique<ScriptServer>(
        "/usr/bin/python3", run.rtsp ? "rtsp_fixture.py" : "media_fixture.py", serverArgs);
    ASSERT_TRUE(server->running());
    const std::string url = std::string(run.rtsp ? "rtsp" : "http") +
                            "://127.0.0.1:" + std::to_string(server->port()) + run.path;
    const std::string output = (dir / "out.mkv").string();
    std::vector<std::string> args{"download", url, "--output", output, "--progress"};
    args.insert(args.end(), run.extra.begin(), run.extra.end());
    CliProcess cli(args);
    if (run.signalAfter != nullptr) {
        std::string line;
        bool progressed = false;
        while (!progressed && cli.ReadLine(line, std::chrono::seconds(30))) {
            progressed = line.find(run.signalAfter) != std::string::npos;
        }
        ASSERT_TRUE(progressed);
        cli.Signal(SIGINT);
    }
    EXPECT_EQ(cli.Finish(), run.exitCode) << cli.errors();
    ASSERT_FALSE(cli.lines().empty());
    EXPECT_NE(cli.lines().back().find(std::string("\"progressText\":\"") + run.lastProgress),
              std::string::npos)
        << cli.lines().back();
    EXPECT_EQ(fs::exists(output), run.fileKept);
    server.reset();
    fs::remove_all(dir);
}

INSTANTIATE_TEST_SUITE_P(Runs, RecordCommandTest, ::testing::ValuesIn(kRuns), CaseName{});

}  // namespace

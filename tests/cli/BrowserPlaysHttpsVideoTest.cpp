#include <gtest/gtest.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/CaseName.h"
#include "support/NetnsPair.h"

namespace {

// A video the page plays: its file name and how ffmpeg encodes it.
struct VideoCase {
    const char* name;
    const char* file;
    const char* encoding;
};

const VideoCase kVideos[] = {
    {"WebmVp8", "clip.webm", "-c:v libvpx -deadline realtime -b:v 300k"},
    {"Mp4H264", "clip.mp4", "-c:v libx264 -preset ultrafast -pix_fmt yuv420p -movflags +faststart"},
};

std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> linesWith(const std::string& text, const std::string& part) {
    std::vector<std::string> found;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        if (line.find(part) != std::string::npos) {
            found.push_back(line);
        }
    }
    return found;
}

// Reaps the ended children; true when none is left, running or not.
bool reapedAll() {
    for (;;) {
        pid_t pid = ::waitpid(-1, nullptr, WNOHANG);
        if (pid <= 0) {
            return pid < 0 && errno == ECHILD;
        }
    }
}

class BrowserPlaysHttpsVideo : public ::testing::TestWithParam<VideoCase> {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/quorvex-browser-video-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    std::filesystem::path dir_;
};

// Chromium, started by `quorvex-cli browser`, plays the page while `monitor` reads the client's
// HTTPS with the browser's key log; the row it prints downloads the very bytes served.
TEST_P(BrowserPlaysHttpsVideo, ItsMediaRequestBecomesARowThatDownloads) {
    const VideoCase& video = GetParam();
    NetnsPair pair;
    QVX_REQUIRE_NETNS(pair);
    const std::string command = std::string(QUORVEX_SOURCE_DIR) +
                                "/tests/support/browser_video.sh " + pair.serverNs() + " " +
                                pair.clientNs() + " " + pair.serverIf() + " " + pair.clientIf() +
                                " " + NetnsPair::kServerAddress + " " + dir_.string() + " " +
                                QUORVEX_BINARY_DIR + "/src/cli/quorvex-cli " + video.file + " " +
                                video.encoding + " >" + (dir_ / "script.log").string() + " 2>&1";
    // The browser's helpers that outlive their parents come back to this process, which can
    // then tell that nothing of the run is left.
    ASSERT_EQ(::prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
    const int status = std::system(command.c_str());
    EXPECT_TRUE(reapedAll()) << "a process of the run is still running";
    ::prctl(PR_SET_CHILD_SUBREAPER, 0);
    ASSERT_EQ(status, 0) << readFile(dir_ / "script.log") << readFile(dir_ / "monitor.err")
                         << readFile(dir_ / "browser.err") << readFile(dir_ / "monitor.json");

    EXPECT_NE(readFile(dir_ / "server.log").find(":path: /played"), std::string::npos)
        << "the page never saw the video play";
    const std::string url = std::string("https://") + NetnsPair::kServerAddress + "/" + video.file;
    const std::vector<std::string> rows =
        linesWith(readFile(dir_ / "monitor.json"), "\"url\":\"" + url + "\"");
    ASSERT_EQ(rows.size(), 1u) << readFile(dir_ / "monitor.json");  // once, however many requests
    EXPECT_TRUE(rows[0].starts_with("{\"scheme\":\"https\",")) << rows[0];
    EXPECT_NE(rows[0].find("\"referer\":\"https://" + std::string(NetnsPair::kServerAddress) +
                           "/index.html\""),
              std::string::npos)
        << rows[0];
    if (rows[0].find("\"httpVersion\"") != std::string::npos) {
        EXPECT_NE(rows[0].find("\"httpVersion\":\"2\""), std::string::npos) << rows[0];
    }
    const std::string served = readFile(dir_ / "www" / video.file);
    EXPECT_FALSE(served.empty());
    EXPECT_TRUE(readFile(dir_ / "download") == served) << readFile(dir_ / "download.out");
    EXPECT_FALSE(std::filesystem::exists(dir_ / "keys.log"));
}

INSTANTIATE_TEST_SUITE_P(Videos, BrowserPlaysHttpsVideo, ::testing::ValuesIn(kVideos), CaseName{});

}  // namespace

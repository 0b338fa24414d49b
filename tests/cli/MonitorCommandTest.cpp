#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "core/session/CaptureHelperPath.h"
#include "support/NetnsPair.h"
#include "support/TcpExchange.h"

extern char** environ;

namespace {

std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Only keeps a broken build from hanging: every wait ends on an event long before.
constexpr int kHangGuardMs = 60'000;

// One run of a command, stdout in a file of a private folder and stderr read through a pipe:
// the test wakes when the command writes and when it ends.
class CommandRun {
  public:
    explicit CommandRun(const std::filesystem::path& dir) : out_(dir / "out") {}
    ~CommandRun() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        for (int fd : {err_, exited_}) {
            if (fd >= 0) {
                ::close(fd);
            }
        }
    }

    bool Start(const std::vector<std::string>& words) {
        int errPipe[2];
        if (::pipe2(errPipe, O_CLOEXEC) != 0) {
            return false;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
        std::vector<char*> argv;
        for (const std::string& word : words) {
            argv.push_back(const_cast<char*>(word.c_str()));
        }
        argv.push_back(nullptr);
        int result = posix_spawnp(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(errPipe[1]);
        err_ = errPipe[0];
        if (result != 0) {
            pid_ = -1;
            return false;
        }
        // Readable once the process has ended, whoever else still holds its stderr.
        exited_ = static_cast<int>(::syscall(SYS_pidfd_open, pid_, 0));
        return exited_ >= 0;
    }

    // The exit status (128 + the signal's number when one ended it), or -1 when it never ends.
    int Wait() {
        while (pid_ > 0) {
            // A closed stderr (-1) is left out by poll.
            pollfd fds[2] = {{exited_, POLLIN, 0}, {err_, POLLIN, 0}};
            if (::poll(fds, 2, kHangGuardMs) <= 0) {
                return -1;
            }
            if (fds[0].revents != 0) {
                int status = 0;
                ::waitpid(pid_, &status, 0);
                pid_ = -1;
                ReadErrorsWritten();
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            ReadErrors();
        }
        return -1;
    }

    // Reads stderr until it holds `text`; false when it ends first.
    bool WaitForError(const std::string& text) {
        while (errors_.find(text) == std::string::npos) {
            pollfd fd{err_, POLLIN, 0};
            if (err_ < 0 || ::poll(&fd, 1, kHangGuardMs) <= 0 || !ReadErrors()) {
                return false;
            }
        }
        return true;
    }

    void Signal(int number) { ::kill(pid_, number); }
    std::string Out() const { return readFile(out_); }
    const std::string& Err() const { return errors_; }

  private:
    // One read of stderr; false at its end.
    bool ReadErrors() {
        char buffer[4096];
        const ssize_t n = ::read(err_, buffer, sizeof buffer);
        if (n <= 0) {
            ::close(err_);
            err_ = -1;
            return false;
        }
        errors_.append(buffer, static_cast<std::size_t>(n));
        return true;
    }

    // What an ended process wrote is in the pipe already; a child it left behind may keep the
    // pipe open, so nothing more is waited for.
    void ReadErrorsWritten() {
        pollfd fd{err_, POLLIN, 0};
        while (err_ >= 0 && ::poll(&fd, 1, 0) > 0 && ReadErrors()) {
        }
    }

    std::filesystem::path out_;
    std::string errors_;
    pid_t pid_ = -1;
    int err_ = -1;     // read end of the command's stderr
    int exited_ = -1;  // pidfd of the command
};

class MonitorCommand : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/qvx-monitor-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        ::chmod(dir_.c_str(), 0755);  // the unprivileged run reads from here
        suffixFile_ = (dir_ / "sufix.txt").string();
        std::ofstream(suffixFile_) << ".wmv\n.asf\n";
        ::chmod(suffixFile_.c_str(), 0644);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    std::vector<std::string> InServer(const NetnsPair& pair, std::vector<std::string> words) {
        std::vector<std::string> command = {"ip", "netns", "exec", pair.serverNs()};
        command.insert(command.end(), words.begin(), words.end());
        return command;
    }

    std::string cli_ = std::string(QUORVEX_BINARY_DIR) + "/src/cli/quorvex-cli";
    std::filesystem::path dir_;
    std::string suffixFile_;
};

}  // namespace

TEST_F(MonitorCommand, BadArgumentsGiveExitStatus2) {
    for (const std::vector<std::string>& words :
         std::vector<std::vector<std::string>>{{"--seconds", "0"},
                                               {"--count", "x"},
                                               {"--adapter", "99999"},
                                               {"--bogus"},
                                               {"--port", "0"},
                                               {"--port", "99999"}}) {
        CommandRun run(dir_);
        std::vector<std::string> command = {cli_, "monitor", "--suffix-file", suffixFile_};
        command.insert(command.end(), words.begin(), words.end());
        ASSERT_TRUE(run.Start(command));
        EXPECT_EQ(run.Wait(), 2) << words[0];
        EXPECT_NE(run.Err().find("quorvex-cli monitor: "), std::string::npos) << run.Err();
    }
    CommandRun help(dir_);
    ASSERT_TRUE(help.Start({cli_, "monitor", "--help"}));
    EXPECT_EQ(help.Wait(), 0);
    EXPECT_NE(help.Out().find("--seconds N"), std::string::npos);
}

TEST_F(MonitorCommand, PrintsStreamsFromLiveTrafficOnceAndEndsAtTheCount) {
    NetnsPair pair;
    QVX_REQUIRE_NETNS(pair);
    CommandRun run(dir_);
    ASSERT_TRUE(run.Start(InServer(pair, {cli_, "monitor", "--count", "2", "--json", "--seconds",
                                          "30", "--suffix-file", suffixFile_})));
    ASSERT_TRUE(run.WaitForError("capturing on " + pair.serverIf())) << run.Err();

    const std::string get = "GET /v/a.wmv HTTP/1.1\r\nHost: media.test\r\n\r\n";
    ASSERT_TRUE(TcpExchange(pair, 80, get, "HTTP/1.0 404 Not Found\r\n\r\n"));
    ASSERT_TRUE(TcpExchange(pair, 80, get, "HTTP/1.0 404 Not Found\r\n\r\n"));  // a repeat
    ASSERT_TRUE(TcpExchange(pair, 554, "DESCRIBE rtsp://cam.test/live.asf RTSP/1.0\r\n\r\n",
                            "RTSP/1.0 404 Not Found\r\n\r\n"));
    EXPECT_EQ(run.Wait(), 0) << run.Err();
    std::string out = run.Out();
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 2) << out;
    EXPECT_NE(out.find("\"url\":\"http://media.test/v/a.wmv\""), std::string::npos) << out;
    EXPECT_NE(out.find("\"url\":\"rtsp://cam.test/live.asf\""), std::string::npos) << out;
}

TEST_F(MonitorCommand, AnAdapterChosenByIpv6WatchesAnAddedPort) {
    NetnsPair pair;
    QVX_REQUIRE_NETNS(pair);
    CommandRun run(dir_);
    ASSERT_TRUE(run.Start(InServer(
        pair, {cli_, "monitor", "--adapter", NetnsPair::kServerAddress6, "--port", "8080",
               "--count", "1", "--json", "--seconds", "30", "--suffix-file", suffixFile_})));
    ASSERT_TRUE(run.WaitForError("capturing on " + pair.serverIf() + " (10.201.0.1)")) << run.Err();
    ASSERT_TRUE(TcpExchange(pair, 8080,
                            "GET /r/a.wmv?sig=7 HTTP/1.1\r\nHost: [fd00:201::1]:8080\r\n\r\n",
                            "HTTP/1.0 404 Not Found\r\n\r\n", true));
    EXPECT_EQ(run.Wait(), 0) << run.Err();
    std::string out = run.Out();
    EXPECT_NE(out.find("\"query\":\"?sig=7\",\"url\":\"http://[fd00:201::1]:8080/r/a.wmv?sig=7\""),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("\"srcAddr\":\"fd00:201::2\",\"dstAddr\":\"fd00:201::1\""),
              std::string::npos)
        << out;
}

// The browser writes its keys while monitoring runs, to a file that did not exist at the start;
// sixteen added ports and a TLS port make the helper's filter no matter.
TEST_F(MonitorCommand, ReadsHttpsWithAKeyLogWrittenMeanwhile) {
    NetnsPair pair;
    QVX_REQUIRE_NETNS(pair);
    const std::string suffixes = (dir_ / "media.txt").string();
    std::ofstream(suffixes) << ".mp4\n.m3u8\n";
    const std::filesystem::path work = dir_ / "https";
    std::vector<std::string> words = {
        cli_,         "monitor", "--count",       "2",
        "--seconds",  "30",      "--suffix-file", suffixes,
        "--tls-port", "8443",    "--keylog",      (work / "keys.log").string()};
    for (int port = 9001; port <= 9016; ++port) {
        words.insert(words.end(), {"--port", std::to_string(port)});
    }
    CommandRun run(dir_);
    ASSERT_TRUE(run.Start(InServer(pair, words)));
    ASSERT_TRUE(run.WaitForError("capturing on " + pair.serverIf())) << run.Err();
    ASSERT_TRUE(NetnsPair::Shell(
        "CAPTURE=none " + std::string(QUORVEX_SOURCE_DIR) + "/tests/support/https_capture.sh " +
        pair.serverNs() + " " + pair.clientNs() + " " + pair.serverIf() + " " +
        NetnsPair::kServerAddress + " " + work.string() + " nghttpd --http2"));
    EXPECT_EQ(run.Wait(), 0) << run.Err();
    EXPECT_EQ(run.Out(),
              "https://media.test/v/a.mp4\t.mp4\tMPEG-4 Video\n"
              "https://media.test/v/b.m3u8\t.m3u8\tHLS Playlist\n")
        << run.Err();
}

TEST_F(MonitorCommand, SigtermAndSigintStopTheCaptureCleanly) {
    NetnsPair pair;
    QVX_REQUIRE_NETNS(pair);
    for (int number : {SIGTERM, SIGINT}) {
        CommandRun run(dir_);
        ASSERT_TRUE(run.Start(InServer(pair, {cli_, "monitor", "--suffix-file", suffixFile_})));
        ASSERT_TRUE(run.WaitForError("capturing on")) << run.Err();
        run.Signal(number);
        EXPECT_EQ(run.Wait(), 0) << "signal " << number << ": " << run.Err();
        EXPECT_NE(run.Err().find("dropped by the kernel"), std::string::npos) << run.Err();
    }
}

// The capability line `name` (CapEff, CapPrm, NoNewPrivs...) of /proc/PID/status.
std::string statusField(pid_t pid, const std::string& name) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.starts_with(name + ":")) {
            std::string value = line.substr(name.size() + 1);
            value.erase(0, value.find_first_not_of(" \t"));
            return value;
        }
    }
    return {};
}

// The process running `program`, or -1.
pid_t processRunning(const std::filesystem::path& program) {
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) {
            continue;
        }
        std::error_code error;
        if (std::filesystem::read_symlink(entry.path() / "exe", error) == program) {
            return static_cast<pid_t>(std::stol(name));
        }
    }
    return -1;
}

// The set-up the README gives: only the helper holds cap_net_raw (+ep, mode 0750, a group
// whose members may capture); an ordinary user monitors through it.
TEST_F(MonitorCommand, AnUnprivilegedUserMonitorsThroughTheHelperAlone) {
    NetnsPair pair;
    QVX_REQUIRE_NETNS(pair);
    std::filesystem::path cli = dir_ / "quorvex-cli";
    std::filesystem::path helper = dir_ / "quorvex-capture";
    std::filesystem::copy_file(cli_, cli);
    std::filesystem::copy_file(std::string(QUORVEX_BINARY_DIR) + "/src/helper/quorvex-capture",
                               helper);
    ::chmod(cli.c_str(), 0755);
    ASSERT_EQ(::chown(helper.c_str(), 0, 65534), 0);
    ::chmod(helper.c_str(), 0750);
    ASSERT_TRUE(NetnsPair::Shell("setcap cap_net_raw+ep " + helper.string()));

    CommandRun run(dir_);
    ASSERT_TRUE(
        run.Start(InServer(pair, {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups",
                                  cli.string(), "monitor", "--count", "1", "--json", "--seconds",
                                  "30", "--suffix-file", suffixFile_})));
    ASSERT_TRUE(run.WaitForError("capturing on " + pair.serverIf())) << run.Err();

    // While it streams, the helper holds no right at all, and cannot regain one.
    pid_t streaming = processRunning(helper);
    ASSERT_GT(streaming, 0);
    EXPECT_EQ(statusField(streaming, "CapEff"), "0000000000000000");
    EXPECT_EQ(statusField(streaming, "CapPrm"), "0000000000000000");
    EXPECT_EQ(statusField(streaming, "NoNewPrivs"), "1");
    pid_t front = processRunning(cli);
    ASSERT_GT(front, 0);
    EXPECT_EQ(statusField(front, "CapEff"), "0000000000000000");

    ASSERT_TRUE(TcpExchange(pair, 80, "GET /v/a.wmv HTTP/1.1\r\nHost: media.test\r\n\r\n",
                            "HTTP/1.0 404 Not Found\r\n\r\n"));
    EXPECT_EQ(run.Wait(), 0) << run.Err();
    EXPECT_NE(run.Out().find("\"url\":\"http://media.test/v/a.wmv\""), std::string::npos)
        << run.Out();
    EXPECT_EQ(processRunning(helper), -1);  // ended and reaped with the front end
}

TEST_F(MonitorCommand, WithoutAHelperAnywhereSaysSo) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "hiding the installed helper needs a mount namespace (root)";
    }
    std::filesystem::path copy = dir_ / "quorvex-cli";
    std::filesystem::copy_file(cli_, copy);
    // In a mount namespace of its own, every other place the copy looks in is hidden, so that
    // a helper installed on this machine cannot be found; the one built here stays in view, and
    // a copy run from outside the build tree never looks there.
    std::vector<std::string> command = {
        "unshare",
        "--mount",
        "--propagation",
        "private",
        "sh",
        "-c",
        "for d in \"$@\"; do if [ -d \"$d\" ]; then mount -t tmpfs none \"$d\" || exit 9; fi; "
        "done; exec " +
            copy.string() + " monitor --seconds 20 --suffix-file " + suffixFile_,
        "sh"};
    // The installed place compiled in is the same for the copy.
    std::vector<std::string> candidates = CaptureHelperPath::candidates();
    ASSERT_GE(candidates.size(), 3u);
    command.push_back((dir_.parent_path() / "libexec" / "quorvex").string());
    command.push_back(std::filesystem::path(candidates[2]).parent_path().string());
    CommandRun run(dir_);
    ASSERT_TRUE(run.Start(command));
    EXPECT_EQ(run.Wait(), 1) << run.Err();
    EXPECT_NE(run.Err().find("cannot find the capture helper quorvex-capture"), std::string::npos)
        << run.Err();
}

TEST_F(MonitorCommand, MissingRightsOrADownOrVanishedInterfaceIsAnError) {
    NetnsPair pair;
    QVX_REQUIRE_NETNS(pair);
    // Copies the unprivileged user can reach, the helper beside the program as installed; a
    // fresh file carries no capabilities.
    std::filesystem::path copy = dir_ / "quorvex-cli";
    std::filesystem::copy_file(cli_, copy);
    ::chmod(copy.c_str(), 0755);
    std::filesystem::path helper = dir_ / "quorvex-capture";
    std::filesystem::copy_file(std::string(QUORVEX_BINARY_DIR) + "/src/helper/quorvex-capture",
                               helper);
    ::chmod(helper.c_str(), 0755);
    {
        CommandRun run(dir_);
        ASSERT_TRUE(run.Start(InServer(
            pair, {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", copy.string(),
                   "monitor", "--seconds", "20", "--suffix-file", suffixFile_})));
        EXPECT_EQ(run.Wait(), 1) << run.Err();
        EXPECT_NE(run.Err().find("no permission to capture"), std::string::npos) << run.Err();
    }
    ASSERT_TRUE(
        NetnsPair::Shell("ip -n " + pair.serverNs() + " link set " + pair.serverIf() + " down"));
    CommandRun run(dir_);
    ASSERT_TRUE(run.Start(
        InServer(pair, {cli_, "monitor", "--seconds", "20", "--suffix-file", suffixFile_})));
    EXPECT_EQ(run.Wait(), 1) << run.Err();
    EXPECT_NE(run.Err().find("is down"), std::string::npos) << run.Err();

    ASSERT_TRUE(
        NetnsPair::Shell("ip -n " + pair.serverNs() + " link set " + pair.serverIf() + " up"));
    CommandRun vanishing(dir_);
    ASSERT_TRUE(vanishing.Start(
        InServer(pair, {cli_, "monitor", "--seconds", "20", "--suffix-file", suffixFile_})));
    ASSERT_TRUE(vanishing.WaitForError("capturing on")) << vanishing.Err();
    ASSERT_TRUE(NetnsPair::Shell("ip -n " + pair.serverNs() + " link del " + pair.serverIf()));
    EXPECT_EQ(vanishing.Wait(), 1) << vanishing.Err();
    EXPECT_NE(vanishing.Err().find("capture ended"), std::string::npos) << vanishing.Err();
}

#include "CliProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

extern char** environ;

namespace {

bool IsProxyVariable(const char* entry) {
    for (const char* name : {"http_proxy=", "https_proxy=", "HTTP_PROXY=", "HTTPS_PROXY=",
                             "all_proxy=", "ALL_PROXY="}) {
        if (std::strncmp(entry, name, std::strlen(name)) == 0) {
            return true;
        }
    }
    return false;
}

}  // namespace

CliProcess::CliProcess(const std::vector<std::string>& args, bool terminalStdin) {
    int terminalSide = -1;
    if (terminalStdin && openpty(&terminal_, &terminalSide, nullptr, nullptr, nullptr) != 0) {
        return;
    }
    int outPipe[2];
    int errPipe[2];
    if (pipe2(outPipe, O_CLOEXEC) != 0 || pipe2(errPipe, O_CLOEXEC) != 0) {
        return;
    }
    std::string binary = std::string(QUORVEX_BINARY_DIR) + "/src/cli/quorvex-cli";
    std::vector<char*> argv{binary.data()};
    std::vector<std::string> copies(args);
    for (auto& arg : copies) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    std::vector<char*> env;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        if (!IsProxyVariable(*entry)) {
            env.push_back(*entry);
        }
    }
    env.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (terminalSide >= 0) {
        posix_spawn_file_actions_adddup2(&actions, terminalSide, STDIN_FILENO);
    } else {
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    }
    posix_spawn_file_actions_adddup2(&actions, outPipe[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, errPipe[1], STDERR_FILENO);
    if (posix_spawn(&pid_, binary.c_str(), &actions, nullptr, argv.data(), env.data()) != 0) {
        pid_ = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    close(outPipe[1]);
    close(errPipe[1]);
    if (terminalSide >= 0) {
        close(terminalSide);
    }
    out_ = outPipe[0];
    err_ = errPipe[0];
}

CliProcess::~CliProcess() {
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    for (int fd : {out_, err_, terminal_}) {
        if (fd >= 0) {
            close(fd);
        }
    }
}

void CliProcess::WriteInput(const std::string& text) {
    if (terminal_ >= 0) {
        ssize_t ignored = write(terminal_, text.data(), text.size());
        (void)ignored;
    }
}

bool CliProcess::WaitForError(const std::string& text, std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (errors_.find(text) == std::string::npos) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd fd{err_, POLLIN, 0};
        if (left.count() <= 0 || err_ < 0 || poll(&fd, 1, static_cast<int>(left.count())) <= 0) {
            return false;
        }
        char buffer[1024];
        ssize_t n = read(err_, buffer, sizeof buffer);
        if (n <= 0) {
            return false;
        }
        errors_.append(buffer, static_cast<std::size_t>(n));
    }
    return true;
}

bool CliProcess::ReadLine(std::string& line, std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        auto end = pending_.find('\n');
        if (end != std::string::npos) {
            line = pending_.substr(0, end);
            pending_.erase(0, end + 1);
            lines_.push_back(line);
            return true;
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || out_ < 0) {
            return false;
        }
        pollfd fd{out_, POLLIN, 0};
        if (poll(&fd, 1, static_cast<int>(left.count())) <= 0) {
            continue;
        }
        char buffer[4096];
        ssize_t n = read(out_, buffer, sizeof buffer);
        if (n <= 0) {
            close(out_);
            out_ = -1;
            return false;
        }
        pending_.append(buffer, static_cast<std::size_t>(n));
    }
}

void CliProcess::Signal(int signal) {
    if (pid_ > 0) {
        kill(pid_, signal);
    }
}

int CliProcess::Finish() {
    std::string line;
    while (ReadLine(line)) {
    }
    char buffer[4096];
    ssize_t n;
    while (err_ >= 0 && (n = read(err_, buffer, sizeof buffer)) > 0) {
        errors_.append(buffer, static_cast<std::size_t>(n));
    }
    int status = 0;
    if (pid_ <= 0) {
        return -1;
    }
    // Its pidfd becomes readable when it exits; one that hangs is killed after a guard that
    // only keeps a broken build from hanging the test.
    constexpr int kHangGuardMs = 60'000;
    const int exited = static_cast<int>(::syscall(SYS_pidfd_open, pid_, 0));
    pollfd fd{exited, POLLIN, 0};
    const bool ended = exited >= 0 && ::poll(&fd, 1, kHangGuardMs) > 0;
    if (exited >= 0) {
        ::close(exited);
    }
    if (!ended || waitpid(pid_, &status, 0) != pid_) {
        kill(pid_, SIGKILL);
        waitpid(pid_, &status, 0);
        pid_ = -1;
        return -1;
    }
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

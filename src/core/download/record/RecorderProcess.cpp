#include "core/download/record/RecorderProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

constexpr int kOutputFd = 3;

void CloseFd(int& fd) {
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
}

}  // namespace

RecorderProcess::RecorderProcess() = default;

RecorderProcess::~RecorderProcess() {
    if (pid_ > 0) {
        End(std::chrono::milliseconds(0));
    }
}

bool RecorderProcess::Start(const std::string& program, int outputFd, std::string& failure) {
    // The request goes over a socket: a recorder that died at once then fails our send
    // (MSG_NOSIGNAL) instead of raising SIGPIPE in the program.
    int input[2];
    int output[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, input) != 0) {
        failure = std::string("socketpair: ") + std::strerror(errno);
        return false;
    }
    if (::pipe2(output, O_CLOEXEC) != 0) {
        failure = std::string("pipe: ") + std::strerror(errno);
        ::close(input[0]);
        ::close(input[1]);
        return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, input[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, outputFd, kOutputFd);
    posix_spawn_file_actions_addclosefrom_np(&actions, kOutputFd + 1);
    // A group of its own: a Ctrl-C at the terminal is the program's to handle (a live
    // recording then ends with its file whole), not a signal that kills the recorder too.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);
    std::string name = program;
    char* const argv[] = {name.data(), nullptr};
    // Nothing of ours steers the recorder: no environment at all.
    char* const environment[] = {nullptr};
    pid_t pid = -1;
    const int spawned =
        posix_spawn(&pid, program.c_str(), &actions, &attributes, argv, environment);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    ::close(input[0]);
    ::close(output[1]);
    if (spawned != 0) {
        ::close(input[1]);
        ::close(output[0]);
        failure = "cannot start " + program + ": " + std::strerror(spawned);
        return false;
    }
    pid_ = pid;
    pidFd_ = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    toChild_ = input[1];
    fromChild_ = output[0];
    return true;
}

bool RecorderProcess::Send(const std::vector<std::uint8_t>& bytes) {
    std::size_t done = 0;
    while (done < bytes.size() && toChild_ >= 0) {
        const ssize_t sent =
            ::send(toChild_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR) {
            continue;
        }
        if (sent <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(sent);
    }
    return done == bytes.size();
}

void RecorderProcess::CloseInput() {
    CloseFd(toChild_);
}

RecorderProcess::Exit RecorderProcess::End(std::chrono::milliseconds grace) {
    Exit exit;
    CloseFd(toChild_);
    CloseFd(fromChild_);  // a recorder blocked on a full pipe now fails its write and ends
    if (pid_ <= 0) {
        return exit;
    }
    if (!WaitFor(grace)) {
        ::kill(pid_, SIGKILL);
    }
    rusage usage{};
    while (::wait4(pid_, &exit.status, 0, &usage) < 0 && errno == EINTR) {
    }
    exit.peakKilobytes = usage.ru_maxrss;
    pid_ = -1;
    CloseFd(pidFd_);
    return exit;
}

// Whether the recorder ended within `grace`; it stays unreaped.
bool RecorderProcess::WaitFor(std::chrono::milliseconds grace) {
    if (pidFd_ < 0) {
        siginfo_t info{};
        return ::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
               info.si_pid == pid_;
    }
    const auto deadline = std::chrono::steady_clock::now() + grace;
    while (true) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd ended{pidFd_, POLLIN, 0};
        const int ready = ::poll(&ended, 1, static_cast<int>(std::max<long long>(left.count(), 0)));
        if (ready > 0) {
            return true;
        }
        if (ready == 0 || errno != EINTR) {
            return false;
        }
    }
}

std::string RecorderProcess::Describe(int status) {
    if (WIFEXITED(status)) {
        return "exit status " + std::to_string(WEXITSTATUS(status));
    }
    if (WIFSIGNALED(status)) {
        return "signal " + std::to_string(WTERMSIG(status));
    }
    return "status " + std::to_string(status);
}

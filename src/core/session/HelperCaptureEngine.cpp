#include "core/session/HelperCaptureEngine.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "core/capture/DatagramExtractor.h"
#include "core/session/CaptureHelperPath.h"

namespace {

constexpr std::size_t kReadChunk = 64 * 1024;
// A larger pipe lets the helper run ahead of a busy receiver without dropping.
constexpr int kPipeBytes = 1 << 20;
constexpr auto kReapStep = std::chrono::milliseconds(1);

using Clock = std::chrono::steady_clock;

std::string groupName(gid_t id) {
    group entry{};
    group* found = nullptr;
    std::vector<char> buffer(16 * 1024);
    if (::getgrgid_r(id, &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr) {
        return found->gr_name;
    }
    return std::to_string(id);
}

// Why no helper can be started: none at all, or one kept for a group this user is not in,
// which is told with the way into that group.
CaptureStatus missingHelper() {
    using Cause = CaptureStatus::Cause;
    const std::string kept = CaptureHelperPath::firstNotRunnable(CaptureHelperPath::candidates());
    struct stat info {};
    if (kept.empty() || ::stat(kept.c_str(), &info) != 0) {
        return {CaptureStatus::kFailed,
                {},
                "cannot find the capture helper quorvex-capture (see README)",
                Cause::kHelperMissing};
    }
    const std::string name = groupName(info.st_gid);
    return {CaptureStatus::kFailed,
            {},
            "cannot start the capture helper " + kept + ": " + std::strerror(EACCES) +
                " (only members of the group " + name + " may run it: adduser USER " + name +
                ", then log in again)",
            Cause::kHelperNotPermitted};
}

CaptureStatus notStarted(std::string message, int error) {
    return {CaptureStatus::kFailed,
            {},
            std::move(message),
            error == EACCES || error == EPERM ? CaptureStatus::Cause::kHelperNotPermitted
                                              : CaptureStatus::Cause::kHelperNotStarted};
}

// The address the helper finds the interface by: IPv4, or the first global IPv6 address of an
// adapter that has no IPv4 one.
std::string addressText(const AdapterEntry& adapter) {
    char text[INET6_ADDRSTRLEN] = {};
    if (IsIpv6Only(adapter)) {
        ::inet_ntop(AF_INET6, adapter.address6, text, sizeof text);
    } else {
        ::inet_ntop(AF_INET, adapter.address, text, sizeof text);
    }
    return text;
}

std::string howItEnded(int status) {
    if (WIFEXITED(status)) {
        return "exit status " + std::to_string(WEXITSTATUS(status));
    }
    if (WIFSIGNALED(status)) {
        return "signal " + std::to_string(WTERMSIG(status));
    }
    return "status " + std::to_string(status);
}

// Waits up to `limit` for `pid` to end; true (with its status) when it has.
bool reapWithin(pid_t pid, Clock::duration limit, int& status) {
    const Clock::time_point deadline = Clock::now() + limit;
    while (true) {
        pid_t reaped = ::waitpid(pid, &status, WNOHANG);
        if (reaped == pid || (reaped < 0 && errno != EINTR)) {
            return true;
        }
        if (Clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(kReapStep);
    }
}

}  // namespace

HelperCaptureEngine::HelperCaptureEngine(PacketReceiver& receiver, std::string helperPath)
    : receiver_(receiver), helperPath_(std::move(helperPath)) {
    int wake[2];
    if (::pipe2(wake, O_CLOEXEC | O_NONBLOCK) == 0) {
        wakeRead_ = wake[0];
        wakeWrite_ = wake[1];
    }
}

HelperCaptureEngine::~HelperCaptureEngine() {
    Stop();
    CloseFd(wakeRead_);
    CloseFd(wakeWrite_);
}

void HelperCaptureEngine::CloseFd(int& fd) {
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
}

void HelperCaptureEngine::Start(const AdapterEntry& adapter) {
    if (thread_.joinable()) {
        return;
    }
    stopRequested_ = false;
    {
        std::lock_guard lock(mutex_);
        status_ = CaptureStatus{CaptureStatus::kOpening, {}, {}};
        statistics_ = {};
    }
    thread_ = std::thread(&HelperCaptureEngine::Run, this, adapter);
}

void HelperCaptureEngine::Stop() {
    if (!thread_.joinable()) {
        return;
    }
    stopRequested_ = true;
    const char byte = 1;
    [[maybe_unused]] ssize_t ignored = ::write(wakeWrite_, &byte, 1);
    if (thread_.get_id() == std::this_thread::get_id()) {
        return;
    }
    thread_.join();
    char drained[64];
    while (::read(wakeRead_, drained, sizeof drained) > 0) {
    }
    stopRequested_ = false;
    std::lock_guard lock(mutex_);
    status_ = CaptureStatus{};
}

CaptureStatus HelperCaptureEngine::Status() const {
    std::lock_guard lock(mutex_);
    return status_;
}

CPacketCapture::Statistics HelperCaptureEngine::LastStatistics() const {
    std::lock_guard lock(mutex_);
    return statistics_;
}

void HelperCaptureEngine::Report(const CaptureStatus& status) {
    {
        std::lock_guard lock(mutex_);
        status_ = status;
    }
    // A stop the owner asked for is not reported, as with the capture thread.
    if (!stopRequested_) {
        receiver_.OnCaptureStatus(status);
    }
}

void HelperCaptureEngine::Run(AdapterEntry adapter) {
    running_ = false;
    helperReported_ = false;
    CaptureStatus failure;
    if (!Spawn(adapter, failure)) {
        Report(failure);
        return;
    }
    Ending ending;
    try {
        ending = ReadUntilEnd();
    } catch (const std::bad_alloc&) {
        // Never out of this thread: the capture ends as lost, and the helper is still reaped.
        ending = Ending::kOutOfMemory;
    }
    const std::string ended = EndHelper();
    if (stopRequested_ || helperReported_) {
        return;
    }
    const std::string interfaceName = Status().interfaceName;
    const CaptureStatus::State state = running_ ? CaptureStatus::kLost : CaptureStatus::kFailed;
    using Cause = CaptureStatus::Cause;
    if (ending == Ending::kMalformed) {
        Report({state, interfaceName, "the capture helper sent malformed data",
                Cause::kHelperMalformed});
    } else if (ending == Ending::kOutOfMemory) {
        Report({state, interfaceName, "capture ended: out of memory"});
    } else {
        Report({state, interfaceName, "the capture helper ended unexpectedly (" + ended + ")",
                Cause::kHelperEnded});
    }
}

bool HelperCaptureEngine::Spawn(const AdapterEntry& adapter, CaptureStatus& failure) {
    if (helperPath_.empty()) {
        failure = missingHelper();
        return false;
    }
    if (wakeRead_ < 0) {
        failure = notStarted("cannot start the capture helper: no pipe", 0);
        return false;
    }
    int input[2];
    int output[2];
    if (::pipe2(input, O_CLOEXEC) != 0) {
        failure =
            notStarted(std::string("cannot start the capture helper: ") + std::strerror(errno), 0);
        return false;
    }
    if (::pipe2(output, O_CLOEXEC) != 0) {
        failure =
            notStarted(std::string("cannot start the capture helper: ") + std::strerror(errno), 0);
        ::close(input[0]);
        ::close(input[1]);
        return false;
    }
    ::fcntl(output[0], F_SETPIPE_SZ, kPipeBytes);  // a hint; the default size works too

    // The helper makes its filter from the port numbers: nothing else of ours steers it.
    const std::string address = addressText(adapter);
    std::vector<std::string> words = {helperPath_, "--address", address, "--promiscuous"};
    for (std::uint16_t port : ports_.added()) {
        words.insert(words.end(), {"--port", std::to_string(port)});
    }
    for (std::uint16_t port : tlsPorts_.all()) {
        if (port != TlsPorts::kHttpsPort) {
            words.insert(words.end(), {"--tls-port", std::to_string(port)});
        }
    }
    std::vector<char*> argv;
    for (std::string& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    // A privileged program gets no environment from us: nothing in it can steer the helper.
    char* const environment[] = {nullptr};

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, input[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
    pid_t pid = -1;
    int spawned =
        posix_spawn(&pid, helperPath_.c_str(), &actions, nullptr, argv.data(), environment);
    posix_spawn_file_actions_destroy(&actions);
    ::close(input[0]);
    ::close(output[1]);
    if (spawned != 0) {
        ::close(input[1]);
        ::close(output[0]);
        failure = notStarted(
            "cannot start the capture helper " + helperPath_ + ": " + std::strerror(spawned),
            spawned);
        return false;
    }
    helperPid_ = pid;
    toHelper_ = input[1];
    fromHelper_ = output[0];
    return true;
}

HelperCaptureEngine::Ending HelperCaptureEngine::ReadUntilEnd() {
    CapturePipeReader reader;
    readBuffer_.resize(kReadChunk);
    Clock::time_point& deadline = endDeadline_;
    deadline = Clock::time_point::max();
    while (true) {
        if (stopRequested_ && toHelper_ >= 0) {
            // Closing its input is the helper's signal to end; its counts follow.
            CloseFd(toHelper_);
            deadline = Clock::now() + kEndGrace;
        }
        int timeout = PacketReceiver::kIdleMilliseconds;
        if (deadline != Clock::time_point::max()) {
            auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0) {
                return Ending::kStopped;
            }
            timeout = static_cast<int>(std::min<long long>(left.count(), timeout));
        }
        pollfd watched[2] = {{fromHelper_, POLLIN, 0}, {wakeRead_, POLLIN, 0}};
        const int ready = ::poll(watched, 2, timeout);
        if (ready < 0) {
            if (errno == EINTR) {
                continue;
            }
            return Ending::kReadFailed;
        }
        if (ready == 0 && !stopRequested_) {
            receiver_.OnIdle();
        }
        if (watched[0].revents == 0) {
            continue;  // woken for the stop, or the time is up
        }
        ssize_t got = ::read(fromHelper_, readBuffer_.data(), readBuffer_.size());
        if (got < 0 && (errno == EINTR || errno == EAGAIN)) {
            continue;
        }
        if (got < 0) {
            return Ending::kReadFailed;
        }
        if (got == 0) {
            return stopRequested_ ? Ending::kStopped : Ending::kHelperEnded;
        }
        reader.append(readBuffer_.data(), static_cast<std::size_t>(got));
        if (!TakeMessages(reader)) {
            return Ending::kMalformed;
        }
    }
}

// False when the helper's output is malformed.
bool HelperCaptureEngine::TakeMessages(CapturePipeReader& reader) {
    while (true) {
        switch (reader.next()) {
            case CapturePipeReader::Result::kNeedMore:
                // Every packet at hand is handed over; the next read may wait.
                receiver_.OnPacketBatchEnd();
                return true;
            case CapturePipeReader::Result::kMalformed:
                return false;
            case CapturePipeReader::Result::kPacket:
                if (running_ && !stopRequested_) {
                    receiver_.OnCapturedPacket(&reader.packet());
                }
                break;
            case CapturePipeReader::Result::kLargePacket:
                if (running_ && !stopRequested_) {
                    receiver_.OnLargeDatagram(reader.largeDatagram(), reader.largeDatagramLength());
                }
                break;
            case CapturePipeReader::Result::kStatistics: {
                std::lock_guard lock(mutex_);
                statistics_ = reader.statistics();
                break;
            }
            case CapturePipeReader::Result::kStatus: {
                const CaptureStatus& status = reader.status();
                if (status.state == CaptureStatus::kRunning) {
                    // Told once; a second "running" would be the helper's fault.
                    if (running_) {
                        return false;
                    }
                    running_ = true;
                } else {
                    helperReported_ = true;
                }
                Report(status);
                break;
            }
        }
    }
}

// Asks the helper to end (its input closes, then its output), waits for it a while, then
// terminates it; always reaps it. Returns how it ended, in words.
std::string HelperCaptureEngine::EndHelper() {
    CloseFd(toHelper_);
    CloseFd(fromHelper_);  // a helper blocked on a full pipe now fails its write and ends
    const pid_t pid = helperPid_.load();
    int status = 0;
    // A helper asked to stop has had its grace time already while its output was read.
    const Clock::duration grace =
        endDeadline_ == Clock::time_point::max()
            ? Clock::duration(kEndGrace)
            : std::max(Clock::duration::zero(), endDeadline_ - Clock::now());
    if (!reapWithin(pid, grace, status)) {
        ::kill(pid, SIGTERM);
        if (!reapWithin(pid, kEndGrace, status)) {
            ::kill(pid, SIGKILL);
            while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
            }
        }
    }
    helperPid_ = -1;
    return howItEnded(status);
}

#include "cli/TerminalDownloadHost.h"

#include "core/store/StreamList.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "cli/TerminalText.h"

namespace {

bool MakePipe(int& readFd, int& writeFd) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) {
        return false;
    }
    readFd = fds[0];
    writeFd = fds[1];
    return true;
}

void CloseIfOpen(int fd) {
    if (fd >= 0) {
        close(fd);
    }
}

void WriteByte(int fd) {
    char byte = 1;
    ssize_t ignored = write(fd, &byte, 1);
    (void)ignored;
}

}  // namespace

TerminalDownloadHost::TerminalDownloadHost(std::optional<Credentials> given, StreamList* rows)
    : given_(std::move(given)), rows_(rows) {
    MakePipe(endedRead_, endedWrite_);
    MakePipe(interruptRead_, interruptWrite_);
}

TerminalDownloadHost::~TerminalDownloadHost() {
    CloseIfOpen(endedRead_);
    CloseIfOpen(endedWrite_);
    CloseIfOpen(interruptRead_);
    CloseIfOpen(interruptWrite_);
}

void TerminalDownloadHost::showMessage(const std::string& text) {
    std::fprintf(stderr, "%s\n", text.c_str());
    std::fflush(stderr);
}

bool TerminalDownloadHost::askLogin(const LoginRequest& request, Credentials& out) {
    if (given_) {
        out = *given_;
        return true;
    }
    if (!isatty(STDIN_FILENO)) {
        return false;
    }
    std::string line = loginPromptLine(request);
    std::fprintf(stderr, "%s\n", line.c_str());
    return prompt("ユーザー名: ", true, out.user) && prompt("パスワード: ", false, out.password);
}

std::string TerminalDownloadHost::loginPromptLine(const LoginRequest& request) {
    // Realm and URL come from the server and the wire: a realm with escapes could paint a
    // prompt of its own.
    std::string line = "ログインが必要です (" + std::to_string(request.status) + ")";
    if (!request.realm.empty()) {
        line += ' ';
        TerminalText::appendEscaped(line, request.realm);
    }
    line += ": ";
    TerminalText::appendEscaped(line, request.url);
    return line;
}

void TerminalDownloadHost::showTransfer(const DetectedStream& record,
                                        const TransferProgress& progress) {
    if (rows_ != nullptr) {
        rows_->showTransfer(record, progress);
    }
}

void TerminalDownloadHost::downloadEnded(DetectedStream*, const DownloadOutcome& outcome) {
    {
        std::lock_guard lock(mutex_);
        outcome_ = outcome;
    }
    ended_.store(true);
    WriteByte(endedWrite_);
}

std::optional<DownloadOutcome> TerminalDownloadHost::outcome() const {
    std::lock_guard lock(mutex_);
    return outcome_;
}

void TerminalDownloadHost::interrupt() {
    interrupted_.store(true);
    WriteByte(interruptWrite_);
}

bool TerminalDownloadHost::prompt(const char* label, bool echo, std::string& line) {
    // Echo goes off before the prompt appears, and without discarding what was typed ahead.
    termios saved{};
    bool restore = false;
    if (!echo && tcgetattr(STDIN_FILENO, &saved) == 0) {
        termios quiet = saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        restore = tcsetattr(STDIN_FILENO, TCSANOW, &quiet) == 0;
    }
    std::fprintf(stderr, "%s", label);
    std::fflush(stderr);
    bool got = readLine(line);
    if (restore) {
        tcsetattr(STDIN_FILENO, TCSANOW, &saved);
        std::fprintf(stderr, "\n");
    }
    return got;
}

// One line from stdin, given up when the user interrupts or stdin ends.
bool TerminalDownloadHost::readLine(std::string& line) {
    line.clear();
    for (;;) {
        if (interrupted_.load()) {
            return false;
        }
        pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {interruptRead_, POLLIN, 0}};
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        if (fds[1].revents != 0) {
            return false;
        }
        char c = 0;
        ssize_t n = read(STDIN_FILENO, &c, 1);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        if (c == '\n') {
            return true;
        }
        if (c != '\r' && line.size() < 4096) {
            line += c;
        }
    }
}

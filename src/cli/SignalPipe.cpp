#include "cli/SignalPipe.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>

namespace {

std::atomic<int> gWriteFd{-1};
struct sigaction gOldInt;
struct sigaction gOldTerm;

void OnSignal(int) {
    int saved = errno;
    int fd = gWriteFd.load();
    if (fd >= 0) {
        char byte = 1;
        ssize_t ignored = write(fd, &byte, 1);
        (void)ignored;
    }
    errno = saved;
}

}  // namespace

SignalPipe::SignalPipe() {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) {
        return;
    }
    readFd_ = fds[0];
    gWriteFd.store(fds[1]);
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, &gOldInt);
    sigaction(SIGTERM, &action, &gOldTerm);
}

SignalPipe::~SignalPipe() {
    if (readFd_ < 0) {
        return;
    }
    sigaction(SIGINT, &gOldInt, nullptr);
    sigaction(SIGTERM, &gOldTerm, nullptr);
    int writeFd = gWriteFd.exchange(-1);
    close(writeFd);
    close(readFd_);
}

bool SignalPipe::drain() {
    bool any = false;
    char buffer[64];
    while (read(readFd_, buffer, sizeof buffer) > 0) {
        any = true;
    }
    return any;
}

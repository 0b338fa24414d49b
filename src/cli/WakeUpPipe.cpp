#include "cli/WakeUpPipe.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

WakeUpPipe::WakeUpPipe() {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) == 0) {
        readEnd_ = ends[0];
        writeEnd_ = ends[1];
    }
}

WakeUpPipe::~WakeUpPipe() {
    if (readEnd_ >= 0) {
        ::close(readEnd_);
        ::close(writeEnd_);
    }
}

void WakeUpPipe::notify() const {
    char byte = 1;
    // A full pipe already holds a wake-up; nothing is lost by dropping this one.
    [[maybe_unused]] ssize_t written = ::write(writeEnd_, &byte, 1);
}

void WakeUpPipe::wait(int timeoutMs, int otherFd) const {
    pollfd entries[2] = {{readEnd_, POLLIN, 0}, {otherFd, POLLIN, 0}};
    ::poll(entries, otherFd >= 0 ? 2 : 1, timeoutMs);
    char buffer[256];
    while (::read(readEnd_, buffer, sizeof buffer) > 0) {
    }
}

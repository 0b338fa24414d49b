#include "record/ParentLink.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>

#include "core/download/record/RecordPipeReader.h"

namespace {

constexpr auto kLookEvery = std::chrono::milliseconds(50);
constexpr auto kAliveEvery = std::chrono::seconds(1);
constexpr auto kProgressEvery = std::chrono::milliseconds(100);

}  // namespace

ParentLink::ParentLink(int inFd, int outFd) : inFd_(inFd), outFd_(outFd) {}

bool ParentLink::ReadRequest(RecordRequest& request) {
    RecordPipeReader reader;
    std::uint8_t buffer[4096];
    while (true) {
        switch (reader.next()) {
            case RecordPipeReader::Result::kRequest:
                request = reader.request();
                return true;
            case RecordPipeReader::Result::kNeedMore:
                break;
            default:
                return false;
        }
        const ssize_t got = ::read(inFd_, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            return false;
        }
        reader.append(buffer, static_cast<std::size_t>(got));
    }
}

bool ParentLink::StopAsked() {
    if (stopped_ || broken_) {
        return true;
    }
    const Clock::time_point now = Clock::now();
    if (now - lastLook_ < kLookEvery) {
        return false;
    }
    lastLook_ = now;
    pollfd input{inFd_, POLLIN, 0};
    if (::poll(&input, 1, 0) <= 0 || input.revents == 0) {
        return false;
    }
    // The parent sends nothing after its request: anything readable is the end of input.
    char byte;
    const ssize_t got = ::read(inFd_, &byte, 1);
    stopped_ = got <= 0 && !(got < 0 && errno == EINTR);
    return stopped_;
}

void ParentLink::Alive() {
    const Clock::time_point now = Clock::now();
    // What was held back while packets came fast goes out once the library waits: a live
    // playlist's segment comes in one burst, then nothing for seconds.
    if (heldProgress_ && now - lastProgress_ >= kProgressEvery) {
        const RecordPipeFormat::Progress held = *heldProgress_;
        Progress(held);
        return;
    }
    if (now - lastAlive_ < kAliveEvery) {
        return;
    }
    lastAlive_ = now;
    Write(RecordPipeFormat::aliveMessage());
}

void ParentLink::Progress(const RecordPipeFormat::Progress& progress) {
    const Clock::time_point now = Clock::now();
    if (progressSent_ && now - lastProgress_ < kProgressEvery) {
        heldProgress_ = progress;
        return;
    }
    progressSent_ = true;
    lastProgress_ = now;
    lastAlive_ = now;
    heldProgress_.reset();
    Write(RecordPipeFormat::progressMessage(progress));
}

void ParentLink::End(const RecordEnding& ending) {
    if (heldProgress_) {
        Write(RecordPipeFormat::progressMessage(*heldProgress_));
        heldProgress_.reset();
    }
    Write(RecordPipeFormat::endMessage(ending));
}

bool ParentLink::Write(const std::vector<std::uint8_t>& message) {
    const std::uint8_t* bytes = message.data();
    std::size_t left = message.size();
    while (left > 0 && !broken_) {
        const ssize_t written = ::write(outFd_, bytes, left);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            broken_ = true;
            break;
        }
        bytes += written;
        left -= static_cast<std::size_t>(written);
    }
    return !broken_;
}

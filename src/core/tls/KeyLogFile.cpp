#include "core/tls/KeyLogFile.h"

#include <fcntl.h>
#include <openssl/crypto.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string_view>
#include <utility>

namespace {

constexpr std::size_t kChunk = 64 * 1024;

KeyLogFile::Result failure(KeyLogFile::Status status, std::string detail) {
    KeyLogFile::Result result;
    result.status = status;
    result.detail = std::move(detail);
    return result;
}

KeyLogFile::Result failure(KeyLogFile::Status status, const std::filesystem::path& path,
                           const char* what, int error) {
    return failure(status, std::string(what) + " " + path.string() + ": " + std::strerror(error));
}

KeyLogFile::Status statusOf(int error) {
    return error == ENOENT ? KeyLogFile::Status::Missing : KeyLogFile::Status::Failed;
}

int openForReading(const std::filesystem::path& path) {
    // Non-blocking, so that a pipe put in the file's place cannot hold the reading thread.
    return ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
}

// Reads from `fd` at `offset` into `keys` until the end or `limit` bytes; -1 on a read error
// (its errno in `error`).
ssize_t readInto(int fd, off_t offset, std::size_t limit, std::vector<char>& buffer, KeyLog& keys,
                 int& error) {
    std::size_t total = 0;
    while (total < limit) {
        std::size_t want = std::min(buffer.size(), limit - total);
        ssize_t got = ::pread(fd, buffer.data(), want, offset + static_cast<off_t>(total));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            error = errno;
            OPENSSL_cleanse(buffer.data(), buffer.size());
            return got < 0 ? -1 : static_cast<ssize_t>(total);
        }
        keys.addText(std::string_view(buffer.data(), static_cast<std::size_t>(got)));
        total += static_cast<std::size_t>(got);
    }
    OPENSSL_cleanse(buffer.data(), buffer.size());
    return static_cast<ssize_t>(total);
}

}  // namespace

KeyLogFile::KeyLogFile(std::filesystem::path path, std::size_t maxBytesPerPoll)
    : path_(std::move(path)),
      maxBytesPerPoll_(std::max<std::size_t>(maxBytesPerPoll, 1)),
      buffer_(kChunk) {}

KeyLogFile::~KeyLogFile() {
    closeFile();
}

void KeyLogFile::closeFile() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
    fd_ = -1;
    offset_ = 0;
}

KeyLogFile::Result KeyLogFile::reopen(KeyLog& keys) {
    closeFile();
    keys.dropPartialLine();
    fd_ = openForReading(path_);
    if (fd_ < 0) {
        int error = errno;
        return failure(statusOf(error), path_, "cannot open", error);
    }
    struct stat st {};
    if (::fstat(fd_, &st) != 0) {
        int error = errno;
        closeFile();
        return failure(Status::Failed, path_, "cannot see", error);
    }
    if (!S_ISREG(st.st_mode)) {
        closeFile();
        return failure(Status::Failed, path_.string() + " is not a regular file");
    }
    Result result;
    result.startedOver = everOpened_;
    everOpened_ = true;
    device_ = st.st_dev;
    inode_ = st.st_ino;
    return result;
}

KeyLogFile::Result KeyLogFile::poll(KeyLog& keys) {
    struct stat named {};
    if (::stat(path_.c_str(), &named) != 0) {
        int error = errno;
        closeFile();
        return failure(statusOf(error), path_, "cannot see", error);
    }
    Result result;
    if (fd_ < 0 || named.st_dev != device_ || named.st_ino != inode_) {
        result = reopen(keys);
        if (result.status != Status::Read) {
            return result;
        }
    }
    struct stat opened {};
    if (::fstat(fd_, &opened) != 0) {
        int error = errno;
        closeFile();
        return failure(Status::Failed, path_, "cannot see", error);
    }
    if (opened.st_size < offset_) {
        // Cut shorter: whatever it holds now was written after the cut.
        offset_ = 0;
        keys.dropPartialLine();
        result.startedOver = true;
    }
    int error = 0;
    ssize_t got = readInto(fd_, offset_, maxBytesPerPoll_, buffer_, keys, error);
    if (got < 0) {
        closeFile();
        return failure(Status::Failed, path_, "cannot read", error);
    }
    offset_ += got;
    result.bytesRead = static_cast<std::size_t>(got);
    result.more = result.bytesRead == maxBytesPerPoll_;
    return result;
}

KeyLogFile::Result KeyLogFile::readWhole(const std::filesystem::path& path, KeyLog& keys) {
    KeyLogFile file(path, SIZE_MAX);
    Result result = file.reopen(keys);
    if (result.status != Status::Read) {
        return result;
    }
    int error = 0;
    ssize_t got = readInto(file.fd_, 0, SIZE_MAX, file.buffer_, keys, error);
    if (got < 0) {
        return failure(Status::Failed, path, "cannot read", error);
    }
    keys.endText();
    result.bytesRead = static_cast<std::size_t>(got);
    return result;
}

#include "core/download/OwnedFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

OwnedFile::~OwnedFile() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

int OwnedFile::Open(const std::string& path, mode_t mode) {
    Close();
    removable_ = false;
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    if (fd_ < 0) {
        return errno != 0 ? errno : EIO;
    }
    path_ = path;
    struct stat info {};
    // A target such as /dev/null or a pipe is written but never deleted.
    if (::fstat(fd_, &info) == 0 && S_ISREG(info.st_mode)) {
        removable_ = true;
        device_ = info.st_dev;
        inode_ = info.st_ino;
    }
    return 0;
}

int OwnedFile::Close() {
    if (fd_ < 0) {
        return 0;
    }
    int closed = ::close(fd_);
    int error = errno;
    fd_ = -1;
    // After EINTR the descriptor is gone on Linux and nothing says data were lost.
    return closed != 0 && error != EINTR ? error : 0;
}

bool OwnedFile::Remove() {
    Close();
    if (!removable_) {
        return false;
    }
    removable_ = false;
    struct stat info {};
    if (::lstat(path_.c_str(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_dev != device_ ||
        info.st_ino != inode_) {
        return false;
    }
    return ::unlink(path_.c_str()) == 0;
}

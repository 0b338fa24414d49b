#include "core/file/AsideFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>

namespace {

// ".NAME.99.part" must stay within one file name.
constexpr std::size_t kPartOverhead = 9;
// Further temporary names tried when ".NAME.part" is taken (a leftover, or another download
// to the same target that is still running).
constexpr int kPartAttempts = 99;

// At most `limit` bytes of `name`, never ending inside a UTF-8 sequence.
std::string CutName(const std::string& name, std::size_t limit) {
    if (name.size() <= limit) {
        return name;
    }
    std::size_t cut = limit;
    while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) {
        --cut;
    }
    return name.substr(0, cut);
}

int CloseKeepingError(int fd) {
    if (::close(fd) == 0 || errno == EINTR) {
        return 0;  // after EINTR the descriptor is gone on Linux and nothing says data were lost
    }
    return errno;
}

}  // namespace

AsideFile::~AsideFile() {
    discard();
}

int AsideFile::fail(const char* call, int error) {
    failedCall_ = call;
    return error != 0 ? error : EIO;
}

int AsideFile::open(const std::string& target, mode_t mode) {
    discard();
    failedCall_ = "";
    if (target.empty()) {
        return fail("open", ENOENT);
    }
    const std::size_t slash = target.rfind('/');
    const std::string folder = slash == std::string::npos ? "."
                               : slash == 0               ? "/"
                                                          : target.substr(0, slash);
    const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
    if (name.empty() || name == "." || name == "..") {
        return fail("open", EISDIR);
    }
    struct stat existing {};
    const bool exists = ::lstat(target.c_str(), &existing) == 0;
    if (!exists && errno != ENOENT) {
        return fail("open", errno);
    }
    if (exists) {
        if (S_ISDIR(existing.st_mode)) {
            return fail("open", EISDIR);
        }
        if (S_ISCHR(existing.st_mode) || S_ISFIFO(existing.st_mode)) {
            return openInPlace(target);
        }
        // A disk (block device) or a socket is never what a download should replace.
        if (!S_ISREG(existing.st_mode) && !S_ISLNK(existing.st_mode)) {
            return fail("open", EINVAL);
        }
        // A file the user may not write stays protected, as it would be written in place.
        if (S_ISREG(existing.st_mode) &&
            ::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0) {
            return fail("open", errno);
        }
    }
    target_ = target;
    folder_ = folder;
    if (int error = createPart(folder, name, mode); error != 0) {
        return error;
    }
    if (exists && S_ISREG(existing.st_mode)) {
        // The replacement keeps the permissions the user gave the old file.
        (void)::fchmod(fd_, existing.st_mode & 0777);
    }
    return 0;
}

int AsideFile::openInPlace(const std::string& target) {
    // Non-blocking, so that a pipe without a reader fails at once instead of hanging.
    int fd = ::open(target.c_str(), O_WRONLY | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        return fail("open", errno);
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !(S_ISCHR(info.st_mode) || S_ISFIFO(info.st_mode))) {
        ::close(fd);
        return fail("open", EINVAL);  // replaced by something else meanwhile
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) {
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    }
    fd_ = fd;
    inPlace_ = true;
    target_ = target;
    return 0;
}

int AsideFile::createPart(const std::string& folder, const std::string& name, mode_t mode) {
    const std::string base = CutName(name, NAME_MAX - kPartOverhead);
    for (int attempt = 1; attempt <= kPartAttempts; ++attempt) {
        std::string part = folder;
        if (folder != "/") {
            part.append("/");
        }
        part.append(".").append(base);
        if (attempt > 1) {
            part.append(".").append(std::to_string(attempt));
        }
        part.append(".part");
        // O_EXCL: never a file or link that is there already, so nothing is written through.
        int fd = ::open(part.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
        if (fd < 0) {
            if (errno == EEXIST) {
                continue;
            }
            return fail("open", errno);
        }
        struct stat info {};
        if (::fstat(fd, &info) != 0) {
            const int error = errno;
            ::close(fd);
            ::unlink(part.c_str());
            return fail("fstat", error);
        }
        fd_ = fd;
        partPath_ = std::move(part);
        device_ = info.st_dev;
        inode_ = info.st_ino;
        return 0;
    }
    return fail("open", EEXIST);
}

bool AsideFile::holdsData() const {
    struct stat info {};
    return fd_ >= 0 && ::fstat(fd_, &info) == 0 && info.st_size > 0;
}

int AsideFile::write(const char* data, std::size_t length) {
    while (length > 0) {
        ssize_t written = ::write(fd_, data, length);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return fail("write", errno);
        }
        data += written;
        length -= static_cast<std::size_t>(written);
    }
    return 0;
}

int AsideFile::startOver() {
    if (inPlace_) {
        return ESPIPE;
    }
    if (::ftruncate(fd_, 0) != 0) {
        return fail("ftruncate", errno);
    }
    if (::lseek(fd_, 0, SEEK_SET) < 0) {
        return fail("lseek", errno);
    }
    return 0;
}

bool AsideFile::stillOurs() const {
    struct stat info {};
    return ::lstat(partPath_.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
           info.st_dev == device_ && info.st_ino == inode_;
}

int AsideFile::commit(Replace replace) {
    failedCall_ = "";
    if (fd_ < 0) {
        return fail("commit", EBADF);
    }
    if (inPlace_) {
        const int error = CloseKeepingError(fd_);
        fd_ = -1;
        inPlace_ = false;
        return error != 0 ? fail("close", error) : 0;
    }
    if (::fsync(fd_) != 0) {
        const int error = errno;
        discard();
        return fail("fsync", error);
    }
    const int closeError = CloseKeepingError(fd_);
    fd_ = -1;
    if (closeError != 0) {
        discard();
        return fail("close", closeError);
    }
    if (int error = moveIntoPlace(replace); error != 0) {
        discard();
        return error;
    }
    partPath_.clear();
    syncFolder();
    return 0;
}

int AsideFile::moveIntoPlace(Replace replace) {
    // A file put in place of ours meanwhile must not become the target.
    if (!stillOurs()) {
        return fail("rename", ENOENT);
    }
    if (replace == Replace::kAlways) {
        return ::rename(partPath_.c_str(), target_.c_str()) == 0 ? 0 : fail("rename", errno);
    }
    if (::renameat2(AT_FDCWD, partPath_.c_str(), AT_FDCWD, target_.c_str(), RENAME_NOREPLACE) ==
        0) {
        return 0;
    }
    if (errno != EINVAL && errno != ENOSYS) {
        return fail("rename", errno);
    }
    // A file system without the flag: a hard link is refused just as well when the name exists.
    if (::link(partPath_.c_str(), target_.c_str()) != 0) {
        return fail("link", errno);
    }
    ::unlink(partPath_.c_str());
    return 0;
}

// Makes the new name itself survive a power loss. A folder that cannot be synced changes
// nothing for the data, which are in place either way.
void AsideFile::syncFolder() const {
    int fd = ::open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        (void)::fsync(fd);
        ::close(fd);
    }
}

void AsideFile::discard() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    if (!partPath_.empty()) {
        if (stillOurs()) {
            ::unlink(partPath_.c_str());
        }
        partPath_.clear();
    }
    inPlace_ = false;
}

#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>

// A file written aside: the data go to a temporary file created exclusively in the target's
// folder (".NAME.part"), which takes the target's name only when commit succeeds. Until then
// an existing target is never touched; a link at the target's name is never followed (a
// commit replaces the link itself, not what it points to). A target that is a character
// device or a pipe (/dev/null, a FIFO) is written in place and never renamed or deleted.
// Used by one thread at a time.
class AsideFile {
  public:
    enum class Replace {
        kAlways,  // the commit replaces whatever has the target's name
        kNever,   // a target that exists at commit time wins; the commit fails with EEXIST
    };

    AsideFile() = default;
    // Discards what was not committed.
    ~AsideFile();

    AsideFile(const AsideFile&) = delete;
    AsideFile& operator=(const AsideFile&) = delete;

    // Creates the temporary file for `target` (`mode` before the umask; when a regular file
    // is replaced, its permission bits are kept). 0, or the errno of the failure: a folder
    // as target is EISDIR, a block device or socket EINVAL, a file the user may not write
    // EACCES. Nothing is open after a failure.
    int open(const std::string& target, mode_t mode);

    int fd() const { return fd_; }
    bool isOpen() const { return fd_ >= 0; }
    // True when the target is a device or pipe that is written directly.
    bool inPlace() const { return inPlace_; }
    // The temporary file's path; empty when written in place or not open.
    const std::string& partPath() const { return partPath_; }
    // True when anything has been written.
    bool holdsData() const;

    // Writes all of `data`; 0, or the errno of the write that failed.
    int write(const char* data, std::size_t length);

    // Empties the temporary file to write it again from its start (a download that starts over).
    // 0, or the errno of the failure; a target written in place cannot start over (ESPIPE).
    int startOver();

    // Flushes the data to disk and gives them the target's name. 0, or the errno of the step
    // that failed (failedCall() names it); the temporary file is then gone and the target is
    // as it was.
    int commit(Replace replace = Replace::kAlways);

    // Closes and deletes the temporary file (only while its name still leads to the file this
    // object made); the target is left as it was. Safe to call more than once.
    void discard();

    // The system call that made the last open or commit fail ("open", "fsync", "rename"...).
    const char* failedCall() const { return failedCall_; }

  private:
    int openInPlace(const std::string& target);
    int createPart(const std::string& folder, const std::string& name, mode_t mode);
    int fail(const char* call, int error);
    bool stillOurs() const;
    int moveIntoPlace(Replace replace);
    void syncFolder() const;

    std::string target_;
    std::string folder_;
    std::string partPath_;
    int fd_ = -1;
    bool inPlace_ = false;
    dev_t device_ = 0;
    ino_t inode_ = 0;
    const char* failedCall_ = "";
};

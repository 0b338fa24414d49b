#pragma once

#include <sys/types.h>

#include <string>

// The file one download writes, and the only way a download deletes a file. Opening goes
// through the path as given (a link to a device is written through); deleting happens only
// while the path still names the very regular file that was opened, checked by device and
// inode without following a link, so a device, a link or a file put in its place meanwhile
// is never removed. Used by one thread at a time: the owner's before the worker starts, then
// the worker's.
class OwnedFile {
  public:
    OwnedFile() = default;
    // Closes the descriptor; never deletes.
    ~OwnedFile();

    OwnedFile(const OwnedFile&) = delete;
    OwnedFile& operator=(const OwnedFile&) = delete;

    // Creates or truncates `path` for writing (`mode` before the umask). 0, or the errno of
    // the failure (nothing is then open and nothing will be deleted).
    int Open(const std::string& path, mode_t mode);

    int fd() const { return fd_; }
    bool isOpen() const { return fd_ >= 0; }

    // Closes the descriptor; 0, or the errno of a close that lost data. The file stays
    // removable by Remove.
    int Close();

    // Closes the descriptor if open and deletes the file, if the path still names the file
    // that was opened and it is a regular file. True when it was deleted.
    bool Remove();

  private:
    std::string path_;
    int fd_ = -1;
    bool removable_ = false;
    dev_t device_ = 0;
    ino_t inode_ = 0;
};

#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "core/tls/KeyLog.h"

// A key log file followed as the browser appends to it. Each poll reads what was appended since
// the last one into a KeyLog. A file replaced (another inode) or cut shorter is read again from
// its start. Used by one thread at a time.
class KeyLogFile {
  public:
    static constexpr std::size_t kDefaultMaxBytesPerPoll = 4 << 20;

    enum class Status {
        Read,     // the file was read (perhaps nothing new)
        Missing,  // there is no such file (yet)
        Failed,   // it exists but cannot be read; `detail` says why
    };

    struct Result {
        Status status = Status::Read;
        std::size_t bytesRead = 0;
        bool startedOver = false;  // the file was replaced or truncated since the last poll
        bool more = false;         // the bound per poll was reached; more is waiting
        std::string detail;        // why it could not be read, in the system's words
    };

    explicit KeyLogFile(std::filesystem::path path,
                        std::size_t maxBytesPerPoll = kDefaultMaxBytesPerPoll);
    ~KeyLogFile();
    KeyLogFile(const KeyLogFile&) = delete;
    KeyLogFile& operator=(const KeyLogFile&) = delete;

    // Reads what was appended since the last poll (at most maxBytesPerPoll bytes).
    Result poll(KeyLog& keys);

    // Reads a whole file once; its last line counts even without a newline.
    static Result readWhole(const std::filesystem::path& path, KeyLog& keys);

    const std::filesystem::path& path() const { return path_; }

  private:
    Result reopen(KeyLog& keys);
    void closeFile();

    std::filesystem::path path_;
    std::size_t maxBytesPerPoll_;
    std::vector<char> buffer_;
    int fd_ = -1;
    dev_t device_ = 0;
    ino_t inode_ = 0;
    off_t offset_ = 0;
    bool everOpened_ = false;
};

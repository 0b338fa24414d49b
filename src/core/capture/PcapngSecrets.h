#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "core/tls/KeyLog.h"

// The TLS secrets a pcapng capture carries in its own Decryption Secrets Blocks (as written by
// `editcap --inject-secrets tls,...`). The packet library skips those blocks, so they are found
// here, in a walk over the block lengths alone that reads no packet it can step over.
class PcapngSecrets {
  public:
    // Key log text taken from one file at most: the rest is left out.
    static constexpr std::uint64_t kMaxSecretBytes = std::uint64_t{64} << 20;

    enum class Status {
        NotPcapng,  // no pcapng file (or no regular file): nothing to take
        Read,       // the walk reached the end of the file (or the bound)
        Damaged,    // the block structure broke off; the secrets before the damage were taken
        Failed,     // the file could not be opened or read; `detail` says why
    };

    struct Result {
        Status status = Status::NotPcapng;
        std::size_t secretsBlocks = 0;  // TLS key log blocks taken
        std::uint64_t secretBytes = 0;  // key log text handed to the key log
        bool bounded = false;           // the bound was reached: later secrets were left out
        std::string detail;
    };

    // Hands the key log text of every TLS secrets block in `path` to `keys` (each block's text
    // ended on its own). A file that is no pcapng is left alone.
    static Result read(const std::string& path, KeyLog& keys,
                       std::uint64_t maxSecretBytes = kMaxSecretBytes);

  private:
    static constexpr std::size_t kBufferSize = 64 * 1024;
    static constexpr std::size_t kJumpReadSize = 4 * 1024;

    PcapngSecrets(int fd, std::uint64_t fileSize, KeyLog& keys, std::uint64_t maxSecretBytes);
    ~PcapngSecrets();
    PcapngSecrets(const PcapngSecrets&) = delete;
    PcapngSecrets& operator=(const PcapngSecrets&) = delete;

    Status walkBlocks();
    bool startSection(const std::uint8_t* header);
    bool blockFits(std::uint64_t offset, std::uint32_t length);
    void takeSecretsBlock(std::uint64_t offset, std::uint32_t length);
    bool takeText(std::uint64_t offset, std::uint32_t length);
    // `length` bytes (at most kBufferSize) of the file at `offset`, valid until the next call;
    // nullptr when the file ends first or cannot be read.
    const std::uint8_t* bytesAt(std::uint64_t offset, std::size_t length);
    std::uint32_t field(const std::uint8_t* at) const;

    const int fd_;
    const std::uint64_t fileSize_;
    KeyLog& keys_;
    std::uint64_t budget_;  // key log bytes still allowed
    std::unique_ptr<std::uint8_t[]> buffer_;
    std::uint64_t bufferStart_ = 0;  // the file offset of buffer_[0]
    std::size_t bufferLength_ = 0;
    std::uint64_t usedEnd_ = 0;  // the end of the bytes last asked for
    bool bigEndian_ = false;     // the current section's byte order
    int readError_ = 0;
    Result result_;
};

#include "core/capture/PcapngSecrets.h"

#include <fcntl.h>
#include <openssl/crypto.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string_view>
#include <utility>

#include "core/capture/NetworkBytes.h"

namespace {

// Every block: type, total length, body padded to 32 bits, total length again.
constexpr std::size_t kMinBlockLength = 12;
// A Section Header Block's type reads the same in either byte order.
constexpr std::uint32_t kSectionHeaderType = 0x0A0D0D0A;
constexpr std::uint32_t kByteOrderMagic = 0x1A2B3C4D;
// Type, length, byte-order magic, major and minor version, section length, length again.
constexpr std::uint32_t kMinSectionLength = 28;
constexpr std::uint32_t kSecretsBlockType = 0x0000000A;
// Type, length, secrets type, secrets length, length again.
constexpr std::uint32_t kMinSecretsLength = 20;
constexpr std::uint32_t kTlsKeyLogSecrets = 0x544C534B;  // "TLSK"

std::uint32_t readLe32(const std::uint8_t* p) {
    return std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) |
           (std::uint32_t{p[3]} << 24);
}

PcapngSecrets::Result failure(const std::string& path, const char* what, int error) {
    PcapngSecrets::Result result;
    result.status = PcapngSecrets::Status::Failed;
    result.detail = std::string(what) + " " + path + ": " + std::strerror(error);
    return result;
}

}  // namespace

PcapngSecrets::Result PcapngSecrets::read(const std::string& path, KeyLog& keys,
                                          std::uint64_t maxSecretBytes) {
    // Looked at before it is opened: opening a pipe's reading end would let its writer start
    // before the packet reader is there.
    struct stat named {};
    if (::stat(path.c_str(), &named) != 0) {
        return failure(path, "cannot see", errno);
    }
    if (!S_ISREG(named.st_mode)) {
        return Result{};
    }
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        return failure(path, "cannot open", errno);
    }
    struct stat opened {};
    if (::fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode)) {
        ::close(fd);
        return Result{};
    }
    PcapngSecrets scan(fd, static_cast<std::uint64_t>(opened.st_size), keys, maxSecretBytes);
    scan.result_.status = scan.walkBlocks();
    if (scan.readError_ != 0) {
        Result failed = failure(path, "cannot read", scan.readError_);
        failed.secretsBlocks = scan.result_.secretsBlocks;
        failed.secretBytes = scan.result_.secretBytes;
        return failed;
    }
    return scan.result_;
}

PcapngSecrets::PcapngSecrets(int fd, std::uint64_t fileSize, KeyLog& keys,
                             std::uint64_t maxSecretBytes)
    : fd_(fd),
      fileSize_(fileSize),
      keys_(keys),
      budget_(maxSecretBytes),
      buffer_(std::make_unique<std::uint8_t[]>(kBufferSize)) {}

PcapngSecrets::~PcapngSecrets() {
    // The buffer has held key log text.
    OPENSSL_cleanse(buffer_.get(), kBufferSize);
    ::close(fd_);
}

PcapngSecrets::Status PcapngSecrets::walkBlocks() {
    const std::uint8_t* first = bytesAt(0, kMinBlockLength);
    if (first == nullptr || readLe32(first) != kSectionHeaderType || !startSection(first)) {
        return Status::NotPcapng;
    }
    for (std::uint64_t offset = 0; offset < fileSize_ && !result_.bounded;) {
        const std::uint8_t* header = bytesAt(offset, kMinBlockLength);
        if (header == nullptr) {
            return Status::Damaged;
        }
        const bool section = readLe32(header) == kSectionHeaderType;
        if (section && !startSection(header)) {
            return Status::Damaged;
        }
        const std::uint32_t type = field(header);
        const std::uint32_t length = field(header + 4);
        if ((section && length < kMinSectionLength) || !blockFits(offset, length)) {
            return Status::Damaged;
        }
        if (type == kSecretsBlockType) {
            takeSecretsBlock(offset, length);
        }
        offset += length;
    }
    return Status::Read;
}

bool PcapngSecrets::startSection(const std::uint8_t* header) {
    const std::uint32_t magic = readLe32(header + 8);
    if (magic != kByteOrderMagic && magic != __builtin_bswap32(kByteOrderMagic)) {
        return false;
    }
    bigEndian_ = magic != kByteOrderMagic;
    return true;
}

bool PcapngSecrets::blockFits(std::uint64_t offset, std::uint32_t length) {
    if (length < kMinBlockLength || length % 4 != 0 || length > fileSize_ - offset) {
        return false;
    }
    // The length repeated at the block's end catches a length that lies within the file.
    const std::uint8_t* trailer = bytesAt(offset + length - 4, 4);
    return trailer != nullptr && field(trailer) == length;
}

void PcapngSecrets::takeSecretsBlock(std::uint64_t offset, std::uint32_t length) {
    if (length < kMinSecretsLength) {
        return;
    }
    const std::uint8_t* head = bytesAt(offset + 8, 8);
    if (head == nullptr) {
        return;
    }
    const std::uint32_t secretsType = field(head);
    const std::uint32_t secretsLength = field(head + 4);
    if (secretsType != kTlsKeyLogSecrets || secretsLength > length - kMinSecretsLength) {
        return;
    }
    if (takeText(offset + 16, secretsLength)) {
        keys_.endText();
    } else {
        // Cut off: a line broken by the cut is no line.
        keys_.dropPartialLine();
    }
    ++result_.secretsBlocks;
}

bool PcapngSecrets::takeText(std::uint64_t offset, std::uint32_t length) {
    const std::uint64_t take = std::min<std::uint64_t>(length, budget_);
    for (std::uint64_t done = 0; done < take;) {
        const std::size_t size =
            static_cast<std::size_t>(std::min<std::uint64_t>(kBufferSize, take - done));
        const std::uint8_t* text = bytesAt(offset + done, size);
        if (text == nullptr) {
            return false;
        }
        keys_.addText(std::string_view(reinterpret_cast<const char*>(text), size));
        done += size;
        budget_ -= size;
        result_.secretBytes += size;
    }
    result_.bounded = take < length;
    return !result_.bounded;
}

const std::uint8_t* PcapngSecrets::bytesAt(std::uint64_t offset, std::size_t length) {
    const std::uint64_t previousEnd = std::exchange(usedEnd_, offset + length);
    if (offset >= bufferStart_ && offset - bufferStart_ <= bufferLength_ &&
        length <= bufferLength_ - (offset - bufferStart_)) {
        return buffer_.get() + (offset - bufferStart_);
    }
    if (length > kBufferSize || offset > fileSize_ || length > fileSize_ - offset) {
        return nullptr;
    }
    // Blocks that follow each other are read a whole buffer at a time. After a jump over a
    // long block only a little is read, as the next block may be as long: of a long block
    // only its ends are read.
    const bool jumped = offset > previousEnd && offset - previousEnd >= kBufferSize;
    const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(
        std::max(jumped ? kJumpReadSize : kBufferSize, length), fileSize_ - offset));
    std::size_t got = 0;
    while (got < want) {
        const ssize_t n =
            ::pread(fd_, buffer_.get() + got, want - got, static_cast<off_t>(offset + got));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            readError_ = errno;
        }
        if (n <= 0) {
            break;
        }
        got += static_cast<std::size_t>(n);
    }
    bufferStart_ = offset;
    bufferLength_ = got;
    return got >= length ? buffer_.get() : nullptr;
}

std::uint32_t PcapngSecrets::field(const std::uint8_t* at) const {
    return bigEndian_ ? readBe32(at) : readLe32(at);
}

#include "core/capture/PcapRecordReader.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

constexpr std::uint32_t kMagicMicroseconds = 0xa1b2c3d4;
constexpr std::uint32_t kMagicNanoseconds = 0xa1b23c4d;

std::uint32_t load32(const std::uint8_t* bytes, bool swapped) {
    std::uint32_t value;
    std::memcpy(&value, bytes, sizeof value);
    return swapped ? __builtin_bswap32(value) : value;
}

std::uint16_t load16(const std::uint8_t* bytes, bool swapped) {
    std::uint16_t value;
    std::memcpy(&value, bytes, sizeof value);
    return swapped ? __builtin_bswap16(value) : value;
}

}  // namespace

bool PcapRecordReader::open(int fd, std::uint32_t snapshot, std::uint32_t maxCaptureLength) {
    struct stat status {};
    if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        return false;
    }
    std::uint8_t header[kFileHeaderSize];
    if (pread(fd, header, sizeof header, 0) != static_cast<ssize_t>(sizeof header)) {
        return false;
    }
    const std::uint32_t magic = load32(header, false);
    const std::uint32_t swappedMagic = __builtin_bswap32(magic);
    bool swapped;
    if (magic == kMagicMicroseconds || magic == kMagicNanoseconds) {
        swapped = false;
    } else if (swappedMagic == kMagicMicroseconds || swappedMagic == kMagicNanoseconds) {
        swapped = true;
    } else {
        return false;  // pcapng or a variant: the library reads it
    }
    // Older versions store some fields in another order; the library knows them.
    if (load16(header + 4, swapped) != 2 || load16(header + 6, swapped) != 4) {
        return false;
    }
    // A frame always fits the buffer whole.
    if (maxCaptureLength > kBufferSize - kRecordHeaderSize) {
        return false;
    }
    if (!buffer_) {
        buffer_ = std::make_unique<std::uint8_t[]>(kBufferSize);
    }
    fd_ = fd;
    swapped_ = swapped;
    snapshot_ = snapshot;
    maxCaptureLength_ = maxCaptureLength;
    position_ = end_ = 0;
    fileOffset_ = kFileHeaderSize;
    error_.clear();
    return true;
}

std::uint32_t PcapRecordReader::field(std::size_t at) const {
    return load32(buffer_.get() + position_ + at, swapped_);
}

bool PcapRecordReader::refill(std::size_t size) {
    std::memmove(buffer_.get(), buffer_.get() + position_, end_ - position_);
    end_ -= position_;
    position_ = 0;
    while (end_ < size) {
        const ssize_t got =
            pread(fd_, buffer_.get() + end_, kBufferSize - end_, static_cast<off_t>(fileOffset_));
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            error_ = std::string("error reading dump file: ") + std::strerror(errno);
            return false;
        }
        if (got == 0) {
            return false;
        }
        end_ += static_cast<std::size_t>(got);
        fileOffset_ += static_cast<std::uint64_t>(got);
    }
    return true;
}

PcapRecordReader::Status PcapRecordReader::next(const std::uint8_t*& frame,
                                                std::uint32_t& captured) {
    if (!ensure(kRecordHeaderSize)) {
        if (!error_.empty()) {
            return Status::Error;
        }
        if (end_ == position_) {
            return Status::End;
        }
        error_ = "truncated dump file; tried to read " + std::to_string(kRecordHeaderSize) +
                 " header bytes, only got " + std::to_string(end_ - position_);
        return Status::Error;
    }
    const std::uint32_t length = field(8);
    if (length > maxCaptureLength_) {
        error_ =
            "invalid packet capture length " + std::to_string(length) +
            (length > snapshot_ ? ", bigger than snaplen of " + std::to_string(snapshot_)
                                : ", bigger than maximum of " + std::to_string(maxCaptureLength_));
        return Status::Error;
    }
    if (!ensure(kRecordHeaderSize + length)) {
        if (error_.empty()) {
            error_ = "truncated dump file; tried to read " + std::to_string(length) +
                     " captured bytes, only got " +
                     std::to_string(end_ - position_ - kRecordHeaderSize);
        }
        return Status::Error;
    }
    frame = buffer_.get() + position_ + kRecordHeaderSize;
    // Bytes beyond the snapshot length are skipped, as the library does.
    captured = length < snapshot_ ? length : snapshot_;
    position_ += kRecordHeaderSize + length;
    return Status::Frame;
}

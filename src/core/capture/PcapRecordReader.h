#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

// Reads the frames of a classic pcap file (version 2.4, either byte order, micro- or
// nanosecond stamps) straight from its descriptor through one large buffer: a frame costs
// one copy from the kernel and no library call, where a stdio stream costs two copies and a
// locked call for each header and each frame. The checks and their words are those of
// libpcap's own reader, so that a damaged file ends the same way by either road.
class PcapRecordReader {
  public:
    enum class Status { Frame, End, Error };

    // The file header's size: records start right after it.
    static constexpr std::size_t kFileHeaderSize = 24;

    // Takes the file when `fd` is a regular file holding a classic pcap header; false (and
    // nothing kept) otherwise. `snapshot` and `maxCaptureLength` are the limits the library
    // applies to this file (its snapshot length as opened, the largest a frame may claim).
    // `fd` stays open, and is read only through this object, until it is gone.
    bool open(int fd, std::uint32_t snapshot, std::uint32_t maxCaptureLength);
    bool isOpen() const { return fd_ >= 0; }

    // The next frame: `frame` stays valid until the next call; `captured` is its length, cut
    // to the snapshot length. End at the end of the file; Error (with error()) when damaged.
    Status next(const std::uint8_t*& frame, std::uint32_t& captured);

    // Bytes of the file read into the buffer so far.
    std::uint64_t bytesRead() const { return fileOffset_; }
    const std::string& error() const { return error_; }

  private:
    static constexpr std::size_t kBufferSize = std::size_t{1} << 20;
    static constexpr std::size_t kRecordHeaderSize = 16;

    // Makes `size` bytes from the current record on available; false when the file ends first
    // (or on a read error, with error_ set).
    bool ensure(std::size_t size) { return end_ - position_ >= size || refill(size); }
    bool refill(std::size_t size);
    std::uint32_t field(std::size_t at) const;

    int fd_ = -1;
    bool swapped_ = false;
    std::uint32_t snapshot_ = 0;
    std::uint32_t maxCaptureLength_ = 0;
    std::unique_ptr<std::uint8_t[]> buffer_;
    std::size_t position_ = 0;  // the current record's start in buffer_
    std::size_t end_ = 0;       // bytes in buffer_
    std::uint64_t fileOffset_ = 0;
    std::string error_;
};

#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>

#include "core/capture/CapturedPacket.h"
#include "core/capture/PcapRecordReader.h"

struct pcap;

// Reads a capture file (pcap or pcapng; "-" is standard input) frame by frame and hands over
// the IPv4 or IPv6 datagram of each frame the way live capture does. Frames without one are
// skipped.
class CaptureFileReader {
  public:
    enum class Status { Packet, End, Error };

    // A cheap test on the datagram bytes before they are copied; frames it refuses are
    // skipped as if they carried nothing.
    using DatagramFilter = std::function<bool(const std::uint8_t* datagram, std::uint32_t length)>;

    CaptureFileReader();
    ~CaptureFileReader();
    CaptureFileReader(const CaptureFileReader&) = delete;
    CaptureFileReader& operator=(const CaptureFileReader&) = delete;

    // False with error() set when the file cannot be opened or its link type is not one
    // that carries IP as understood here.
    bool open(const std::string& path);

    void setFilter(DatagramFilter filter) { filter_ = std::move(filter); }

    // The next IP datagram into `packet` (zero after its end). End at the end of the file,
    // Error (with error()) when the file is damaged.
    Status next(CapturedPacket& packet);
    // Fills `packets` from the front, counting them in `count`; Packet while more may follow,
    // else the status that ended the batch. Bytes beyond a packet's length are left as they
    // were.
    Status nextBatch(std::span<CapturedPacket> packets, std::size_t& count);
    // The same, but the first `handOver` datagrams go to `taker` as they are read, valid during
    // the call, instead of into `packets` (they are counted; their packets stay as they were).
    using DatagramTaker = std::function<void(const std::uint8_t* datagram, std::uint32_t length)>;
    Status nextBatch(std::span<CapturedPacket> packets, std::size_t& count, std::size_t handOver,
                     const DatagramTaker& taker);

    int linkType() const { return linkType_; }
    // How far into the file reading has come, in bytes (0 for standard input); costs a
    // system call, so ask now and then.
    std::uint64_t bytesRead() const;
    const std::string& error() const { return error_; }

  private:
    struct Closer {
        void operator()(pcap* handle) const;
    };

    static constexpr std::size_t kReadBufferSize = std::size_t{1} << 20;
    // The largest frame the library accepts for the link types read here.
    static constexpr std::uint32_t kMaxFrameLength = 262144;

    bool openFile(const std::string& path);
    Status nextFrame(const std::uint8_t*& frame, std::uint32_t& captured);
    // The next datagram that passes the filter, where it was read; valid until the next read.
    Status nextDatagram(const std::uint8_t*& datagram, std::uint32_t& length);

    // The file's stdio buffer; declared first so that it outlives the handle reading through it.
    std::unique_ptr<char[]> readBuffer_;
    std::unique_ptr<pcap, Closer> handle_;
    // Classic pcap files are read through this instead of the library, which then only
    // checked the file header.
    PcapRecordReader records_;
    int linkType_ = -1;
    DatagramFilter filter_;
    std::string error_;
};

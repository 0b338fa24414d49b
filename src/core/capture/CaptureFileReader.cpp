#include "core/capture/CaptureFileReader.h"

#include <pcap/pcap.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "core/capture/DatagramExtractor.h"

void CaptureFileReader::Closer::operator()(pcap* handle) const {
    pcap_close(handle);
}

CaptureFileReader::CaptureFileReader() = default;

CaptureFileReader::~CaptureFileReader() = default;

bool CaptureFileReader::open(const std::string& path) {
    records_ = PcapRecordReader();
    handle_.reset();
    if (!openFile(path)) {
        return false;
    }
    linkType_ = pcap_datalink(handle_.get());
    if (!DatagramExtractor::supportsLinkType(linkType_)) {
        const char* name = pcap_datalink_val_to_name(linkType_);
        error_ = "link type " + std::to_string(linkType_) +
                 (name ? " (" + std::string(name) + ")" : "") +
                 " carries no IP datagrams this reader understands";
        handle_.reset();
        return false;
    }
    error_.clear();
    if (path != "-") {
        records_.open(fileno(pcap_file(handle_.get())),
                      static_cast<std::uint32_t>(pcap_snapshot(handle_.get())), kMaxFrameLength);
    }
    return true;
}

bool CaptureFileReader::openFile(const std::string& path) {
    char errorBuffer[PCAP_ERRBUF_SIZE] = {};
    // "-" is standard input, so that a capture can come through a pipe.
    std::FILE* file = path == "-" ? stdin : std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        error_ = path + ": " + std::strerror(errno);
        return false;
    }
    // The default buffer of a few kilobytes costs a system call every few frames.
    if (!readBuffer_) {
        readBuffer_ = std::make_unique<char[]>(kReadBufferSize);
    }
    std::setvbuf(file, readBuffer_.get(), _IOFBF, kReadBufferSize);
    handle_.reset(pcap_fopen_offline(file, errorBuffer));
    if (!handle_) {
        // Only closed by the handle once it is made; standard input too, as it reads
        // through our buffer.
        std::fclose(file);
        error_ = errorBuffer;
        return false;
    }
    return true;
}

std::uint64_t CaptureFileReader::bytesRead() const {
    if (!handle_) {
        return 0;
    }
    if (records_.isOpen()) {
        return records_.bytesRead();
    }
    const long position = std::ftell(pcap_file(handle_.get()));
    return position > 0 ? static_cast<std::uint64_t>(position) : 0;
}

CaptureFileReader::Status CaptureFileReader::nextBatch(std::span<CapturedPacket> packets,
                                                       std::size_t& count) {
    return nextBatch(packets, count, 0, {});
}

CaptureFileReader::Status CaptureFileReader::nextBatch(std::span<CapturedPacket> packets,
                                                       std::size_t& count, std::size_t handOver,
                                                       const DatagramTaker& taker) {
    count = 0;
    const std::uint8_t* datagram = nullptr;
    std::uint32_t length = 0;
    while (count < packets.size()) {
        if (const Status status = nextDatagram(datagram, length); status != Status::Packet) {
            return status;
        }
        if (count < handOver) {
            taker(datagram, length);
        } else {
            // Only the detector reads a batch: the bytes behind the datagram need no zeros.
            DatagramExtractor::copyDatagramOnly(datagram, length, packets[count]);
        }
        ++count;
    }
    return Status::Packet;
}

CaptureFileReader::Status CaptureFileReader::nextFrame(const std::uint8_t*& frame,
                                                       std::uint32_t& captured) {
    if (records_.isOpen()) {
        switch (records_.next(frame, captured)) {
            case PcapRecordReader::Status::Frame:
                return Status::Packet;
            case PcapRecordReader::Status::End:
                return Status::End;
            case PcapRecordReader::Status::Error:
                error_ = records_.error();
                return Status::Error;
        }
    }
    pcap_pkthdr* header = nullptr;
    const u_char* data = nullptr;
    const int result = pcap_next_ex(handle_.get(), &header, &data);
    if (result == PCAP_ERROR_BREAK) {
        return Status::End;
    }
    if (result != 1) {
        error_ = pcap_geterr(handle_.get());
        return Status::Error;
    }
    frame = data;
    captured = header->caplen;
    return Status::Packet;
}

CaptureFileReader::Status CaptureFileReader::next(CapturedPacket& packet) {
    const std::uint8_t* datagram = nullptr;
    std::uint32_t length = 0;
    const Status status = nextDatagram(datagram, length);
    if (status == Status::Packet) {
        DatagramExtractor::copyDatagram(datagram, length, packet);
    }
    return status;
}

CaptureFileReader::Status CaptureFileReader::nextDatagram(const std::uint8_t*& datagram,
                                                          std::uint32_t& length) {
    if (!handle_) {
        return Status::Error;
    }
    const std::uint8_t* frame = nullptr;
    std::uint32_t captured = 0;
    for (;;) {
        if (const Status status = nextFrame(frame, captured); status != Status::Packet) {
            return status;
        }
        const int offset = DatagramExtractor::datagramOffset(linkType_, frame, captured);
        if (offset < 0) {
            continue;
        }
        datagram = frame + offset;
        length = DatagramExtractor::datagramLength(datagram,
                                                   captured - static_cast<std::uint32_t>(offset));
        if (filter_ && !filter_(datagram, length)) {
            continue;
        }
        return Status::Packet;
    }
}

// Feeds arbitrary files to the capture-file reader (pcap and pcapng, every link type it
// knows) and arbitrary frames to the datagram extraction of every supported link type.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <string>

#include "core/capture/CaptureFileReader.h"
#include "core/capture/DatagramExtractor.h"

namespace {

constexpr int kLinkTypes[] = {
    DatagramExtractor::kNull,     DatagramExtractor::kEthernet,    DatagramExtractor::kRaw,
    DatagramExtractor::kRawAlt,   DatagramExtractor::kRawLinktype, DatagramExtractor::kLoop,
    DatagramExtractor::kLinuxSll, DatagramExtractor::kIpv4,        DatagramExtractor::kLinuxSll2,
};

void checkPacket(const CapturedPacket& packet) {
    if (packet.length > CapturedPacket::kCapacity) {
        __builtin_trap();
    }
    for (std::uint32_t i = packet.length; i < CapturedPacket::kCapacity; ++i) {
        if (packet.data[i] != 0) {
            __builtin_trap();
        }
    }
}

void extractFrames(const std::uint8_t* data, std::size_t size) {
    const auto length = static_cast<std::uint32_t>(std::min<std::size_t>(size, 1 << 20));
    for (int linkType : kLinkTypes) {
        CapturedPacket packet;
        if (DatagramExtractor::extract(linkType, data, length, packet)) {
            checkPacket(packet);
        }
    }
}

void readAsFile(const std::uint8_t* data, std::size_t size) {
    // The reader takes a path; a memory file gives it one without touching the disk.
    static const int fd = memfd_create("capture", MFD_CLOEXEC);
    if (fd < 0 || ftruncate(fd, 0) != 0 ||
        pwrite(fd, data, size, 0) != static_cast<ssize_t>(size)) {
        return;
    }
    CaptureFileReader reader;
    if (!reader.open("/proc/self/fd/" + std::to_string(fd))) {
        return;
    }
    CapturedPacket packet;
    for (int i = 0; i < 10000; ++i) {
        CaptureFileReader::Status status = reader.next(packet);
        if (status != CaptureFileReader::Status::Packet) {
            break;
        }
        checkPacket(packet);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    extractFrames(data, size);
    readAsFile(data, size);
    return 0;
}

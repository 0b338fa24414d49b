#include "AsfFixture.h"

#include <iterator>

namespace {

const std::uint8_t kHeaderGuid[16] = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                      0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
const std::uint8_t kFilePropertiesGuid[16] = {0xA1, 0xDC, 0xAB, 0x8C, 0x47, 0xA9, 0xCF, 0x11,
                                              0x8E, 0xE4, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
const std::uint8_t kStreamPropertiesGuid[16] = {0x91, 0x07, 0xDC, 0xB7, 0xB7, 0xA9, 0xCF, 0x11,
                                                0x8E, 0xE6, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
const std::uint8_t kDataGuid[16] = {0x36, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                    0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
const std::uint8_t kAudioMediaGuid[16] = {0x40, 0x9E, 0x69, 0xF8, 0x4D, 0x5B, 0xCF, 0x11,
                                          0xA8, 0xFD, 0x00, 0x80, 0x5F, 0x5C, 0x44, 0x2B};
const std::uint8_t kNoErrorCorrectionGuid[16] = {0x00, 0x57, 0xFB, 0x20, 0x55, 0x5B, 0xCF, 0x11,
                                                 0xA8, 0xFD, 0x00, 0x80, 0x5F, 0x5C, 0x44, 0x2B};

void PutGuid(std::vector<std::uint8_t>& out, const std::uint8_t (&guid)[16]) {
    out.insert(out.end(), guid, guid + 16);
}

}  // namespace

void AsfFixture::Put16(std::vector<std::uint8_t>& out, std::uint16_t value) {
    out.push_back(static_cast<std::uint8_t>(value));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
}

void AsfFixture::Put32(std::vector<std::uint8_t>& out, std::uint32_t value) {
    Put16(out, static_cast<std::uint16_t>(value));
    Put16(out, static_cast<std::uint16_t>(value >> 16));
}

void AsfFixture::Put64(std::vector<std::uint8_t>& out, std::uint64_t value) {
    Put32(out, static_cast<std::uint32_t>(value));
    Put32(out, static_cast<std::uint32_t>(value >> 32));
}

void AsfFixture::Set64(std::vector<std::uint8_t>& out, std::size_t at, std::uint64_t value) {
    for (int i = 0; i < 8; ++i) {
        out[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

std::vector<std::uint8_t> AsfFixture::HeaderObject(std::uint64_t size, std::uint32_t children) {
    std::vector<std::uint8_t> out(std::begin(kHeaderGuid), std::end(kHeaderGuid));
    Put64(out, size);
    Put32(out, children);
    out.push_back(0x01);
    out.push_back(0x02);
    return out;
}

std::vector<std::uint8_t> AsfFixture::FileProperties(std::uint64_t fileSize,
                                                     std::uint32_t packetSize) {
    std::vector<std::uint8_t> out(std::begin(kFilePropertiesGuid), std::end(kFilePropertiesGuid));
    Put64(out, 104);
    out.insert(out.end(), 16, 0x5A);  // file id
    Put64(out, fileSize);
    Put64(out, 0);           // creation date
    Put64(out, 0);           // data packets count (not read by the client)
    Put64(out, 30000000);    // play duration, 100 ns units
    Put64(out, 30000000);    // send duration
    Put64(out, 3100);        // preroll, ms
    Put32(out, 0x2);         // seekable
    Put32(out, packetSize);  // minimum data packet size
    Put32(out, packetSize);  // maximum data packet size
    Put32(out, 128000);      // maximum bitrate
    return out;
}

std::vector<std::uint8_t> AsfFixture::StreamProperties(std::uint16_t flags) {
    std::vector<std::uint8_t> out(std::begin(kStreamPropertiesGuid),
                                  std::end(kStreamPropertiesGuid));
    Put64(out, 78);
    PutGuid(out, kAudioMediaGuid);
    PutGuid(out, kNoErrorCorrectionGuid);
    Put64(out, 0);  // time offset
    Put32(out, 0);  // type-specific data length
    Put32(out, 0);  // error correction data length
    Put16(out, flags);
    Put32(out, 0);  // reserved
    return out;
}

std::vector<std::uint8_t> AsfFixture::DataObjectHeader(std::uint64_t packetCount,
                                                       std::uint32_t packetSize) {
    std::vector<std::uint8_t> out(std::begin(kDataGuid), std::end(kDataGuid));
    Put64(out, 50 + packetCount * packetSize);
    out.insert(out.end(), 16, 0x5A);  // file id
    Put64(out, packetCount);
    out.push_back(0x01);
    out.push_back(0x01);
    return out;
}

std::vector<std::uint8_t> AsfFixture::Packet(std::uint32_t index, std::uint32_t packetSize) {
    std::vector<std::uint8_t> out(packetSize, 0);
    const std::uint32_t used = packetSize - packetSize / 4;
    std::uint32_t x = index * 2654435761u + 1;
    for (std::uint32_t i = 0; i < used; ++i) {
        x = x * 1103515245u + 12345u;
        out[i] = static_cast<std::uint8_t>((x >> 16) | 1);  // never zero, so trimming is exact
    }
    out[0] = 0x82;
    return out;
}

void AsfFixture::Build() {
    std::vector<std::uint8_t> children;
    std::uint64_t total = 0;
    auto properties = FileProperties(0, packetSize);
    children.insert(children.end(), properties.begin(), properties.end());
    for (std::uint16_t flags : streamFlags) {
        auto stream = StreamProperties(flags);
        children.insert(children.end(), stream.begin(), stream.end());
    }
    const std::uint32_t childCount = static_cast<std::uint32_t>(1 + streamFlags.size());
    header = HeaderObject(30 + children.size(), childCount);
    header.insert(header.end(), children.begin(), children.end());
    auto data = DataObjectHeader(packetCount, packetSize);
    header.insert(header.end(), data.begin(), data.end());
    total = header.size() + std::uint64_t{packetCount} * packetSize;
    Set64(header, 30 + 40, fileSizeField != 0 ? fileSizeField : total);
    Set64(header, 30 + 56, packetCount);

    packets.clear();
    for (std::uint32_t i = 0; i < packetCount; ++i) {
        packets.push_back(Packet(i, packetSize));
    }
}

std::vector<std::uint8_t> AsfFixture::WholeFile() const {
    std::vector<std::uint8_t> out = header;
    for (const auto& packet : packets) {
        out.insert(out.end(), packet.begin(), packet.end());
    }
    return out;
}

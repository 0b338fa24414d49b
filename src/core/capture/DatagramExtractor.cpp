#include "core/capture/DatagramExtractor.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr std::uint16_t kEtherTypeIpv4 = 0x0800;
constexpr std::uint16_t kEtherTypeVlan = 0x8100;
constexpr std::uint16_t kEtherTypeQinQ = 0x88A8;
constexpr std::uint16_t kEtherTypeQinQOld = 0x9100;
constexpr std::uint32_t kAfInet = 2;
constexpr std::uint32_t kEthernetHeader = 14;
constexpr std::uint32_t kVlanTag = 4;
constexpr std::uint32_t kSllHeader = 16;
constexpr std::uint32_t kSll2Header = 20;
constexpr std::uint32_t kMinIpv4Header = 20;

std::uint16_t readBe16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}

std::uint32_t readBe32(const std::uint8_t* p) {
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
           p[3];
}

std::uint32_t readLe32(const std::uint8_t* p) {
    return (std::uint32_t{p[3]} << 24) | (std::uint32_t{p[2]} << 16) | (std::uint32_t{p[1]} << 8) |
           p[0];
}

bool isVlanTag(std::uint16_t etherType) {
    return etherType == kEtherTypeVlan || etherType == kEtherTypeQinQ ||
           etherType == kEtherTypeQinQOld;
}

int ethernetPayload(const std::uint8_t* frame, std::uint32_t length) {
    std::uint32_t offset = kEthernetHeader - 2;  // at the EtherType
    while (offset + 2 <= length) {
        std::uint16_t etherType = readBe16(frame + offset);
        if (etherType == kEtherTypeIpv4) {
            return static_cast<int>(offset + 2);
        }
        if (!isVlanTag(etherType)) {
            return -1;
        }
        offset += kVlanTag;
    }
    return -1;
}

int nullPayload(const std::uint8_t* frame, std::uint32_t length, bool networkOrder) {
    if (length < 4) {
        return -1;
    }
    // The family word is in the byte order of the machine that wrote it; accept either.
    std::uint32_t family = networkOrder ? readBe32(frame) : readLe32(frame);
    if (family != kAfInet && readBe32(frame) != kAfInet) {
        return -1;
    }
    return 4;
}

}  // namespace

bool DatagramExtractor::supportsLinkType(int linkType) {
    switch (linkType) {
        case kNull:
        case kEthernet:
        case kRaw:
        case kRawAlt:
        case kRawLinktype:
        case kLoop:
        case kLinuxSll:
        case kIpv4:
        case kLinuxSll2:
            return true;
        default:
            return false;
    }
}

std::uint32_t DatagramExtractor::datagramLength(const std::uint8_t* datagram,
                                                std::uint32_t captured) {
    std::uint32_t length = captured;
    if (captured >= 4) {
        // Link-layer padding after a short datagram is not part of it.
        std::uint32_t totalLength = readBe16(datagram + 2);
        if (totalLength >= kMinIpv4Header && totalLength <= captured) {
            length = totalLength;
        }
    }
    return std::min(length, CapturedPacket::kCapacity);
}

int DatagramExtractor::ipv4Offset(int linkType, const std::uint8_t* frame,
                                  std::uint32_t capturedLength) {
    int offset = -1;
    switch (linkType) {
        case kEthernet:
            offset = ethernetPayload(frame, capturedLength);
            break;
        case kLinuxSll:
            if (capturedLength >= kSllHeader && readBe16(frame + 14) == kEtherTypeIpv4) {
                offset = kSllHeader;
            }
            break;
        case kLinuxSll2:
            if (capturedLength >= kSll2Header && readBe16(frame) == kEtherTypeIpv4) {
                offset = kSll2Header;
            }
            break;
        case kRaw:
        case kRawAlt:
        case kRawLinktype:
        case kIpv4:
            offset = 0;
            break;
        case kNull:
            offset = nullPayload(frame, capturedLength, false);
            break;
        case kLoop:
            offset = nullPayload(frame, capturedLength, true);
            break;
        default:
            return -1;
    }
    if (offset < 0 || static_cast<std::uint32_t>(offset) >= capturedLength) {
        return -1;
    }
    if ((frame[offset] >> 4) != 4) {
        return -1;
    }
    return offset;
}

bool DatagramExtractor::extract(int linkType, const std::uint8_t* frame,
                                std::uint32_t capturedLength, CapturedPacket& out) {
    int offset = ipv4Offset(linkType, frame, capturedLength);
    if (offset < 0) {
        return false;
    }
    const std::uint8_t* datagram = frame + offset;
    std::uint32_t length =
        datagramLength(datagram, capturedLength - static_cast<std::uint32_t>(offset));

    std::uint32_t previous = std::min(out.length, CapturedPacket::kCapacity);
    std::memcpy(out.data, datagram, length);
    if (previous > length) {
        std::memset(out.data + length, 0, previous - length);
    }
    out.length = length;
    return true;
}

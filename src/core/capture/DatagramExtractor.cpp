#include "core/capture/DatagramExtractor.h"

#include <algorithm>
#include <cstring>
#include <iterator>

#include "core/capture/NetworkBytes.h"

namespace {

constexpr std::uint16_t kEtherTypeIpv4 = 0x0800;
constexpr std::uint16_t kEtherTypeIpv6 = 0x86DD;
constexpr std::uint16_t kEtherTypeVlan = 0x8100;
constexpr std::uint16_t kEtherTypeQinQ = 0x88A8;
constexpr std::uint16_t kEtherTypeQinQOld = 0x9100;
constexpr std::uint32_t kAfInet = 2;
// AF_INET6 differs between the systems that write BSD loopback headers: Linux, NetBSD/OpenBSD,
// FreeBSD, macOS.
constexpr std::uint32_t kAfInet6[] = {10, 24, 28, 30};
constexpr std::uint32_t kEthernetHeader = 14;
constexpr std::uint32_t kVlanTag = 4;
constexpr std::uint32_t kSllHeader = 16;
constexpr std::uint32_t kSll2Header = 20;
constexpr std::uint32_t kMinIpv4Header = 20;
constexpr std::uint32_t kIpv6Header = 40;

std::uint32_t readLe32(const std::uint8_t* p) {
    return (std::uint32_t{p[3]} << 24) | (std::uint32_t{p[2]} << 16) | (std::uint32_t{p[1]} << 8) |
           p[0];
}

// Where the datagram starts and the IP version the link layer announced (0: not said).
struct Found {
    int offset = -1;
    int version = 0;
};

int versionOfEtherType(std::uint16_t etherType) {
    return etherType == kEtherTypeIpv4 ? 4 : etherType == kEtherTypeIpv6 ? 6 : -1;
}

int versionOfFamily(std::uint32_t family) {
    if (family == kAfInet) {
        return 4;
    }
    bool inet6 = std::find(std::begin(kAfInet6), std::end(kAfInet6), family) != std::end(kAfInet6);
    return inet6 ? 6 : -1;
}

Found behindEtherType(std::uint16_t etherType, int offset) {
    int version = versionOfEtherType(etherType);
    return version < 0 ? Found{} : Found{offset, version};
}

bool isVlanTag(std::uint16_t etherType) {
    return etherType == kEtherTypeVlan || etherType == kEtherTypeQinQ ||
           etherType == kEtherTypeQinQOld;
}

Found ethernetPayload(const std::uint8_t* frame, std::uint32_t length) {
    std::uint32_t offset = kEthernetHeader - 2;  // at the EtherType
    while (offset + 2 <= length) {
        std::uint16_t etherType = readBe16(frame + offset);
        if (!isVlanTag(etherType)) {
            return behindEtherType(etherType, static_cast<int>(offset + 2));
        }
        offset += kVlanTag;
    }
    return {};
}

Found nullPayload(const std::uint8_t* frame, std::uint32_t length, bool networkOrder) {
    if (length < 4) {
        return {};
    }
    // The family word is in the byte order of the machine that wrote it; accept either.
    int version = versionOfFamily(networkOrder ? readBe32(frame) : readLe32(frame));
    if (version < 0) {
        version = versionOfFamily(readBe32(frame));
    }
    return version < 0 ? Found{} : Found{4, version};
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
        case kIpv6:
        case kLinuxSll2:
            return true;
        default:
            return false;
    }
}

std::uint32_t DatagramExtractor::datagramLength(const std::uint8_t* datagram,
                                                std::uint32_t captured) {
    std::uint32_t length = captured;
    // Link-layer padding after a short datagram is not part of it.
    if (captured >= kIpv6Header && (datagram[0] >> 4) == 6) {
        // A payload length of 0 (a jumbogram) leaves what was captured.
        std::uint32_t payloadLength = readBe16(datagram + 4);
        if (payloadLength != 0 && kIpv6Header + payloadLength <= captured) {
            length = kIpv6Header + payloadLength;
        }
    } else if (captured >= 4 && (datagram[0] >> 4) == 4) {
        std::uint32_t totalLength = readBe16(datagram + 2);
        if (totalLength >= kMinIpv4Header && totalLength <= captured) {
            length = totalLength;
        }
    }
    return length;
}

int DatagramExtractor::datagramOffset(int linkType, const std::uint8_t* frame,
                                      std::uint32_t capturedLength) {
    Found found;
    switch (linkType) {
        case kEthernet:
            found = ethernetPayload(frame, capturedLength);
            break;
        case kLinuxSll:
            if (capturedLength >= kSllHeader) {
                found = behindEtherType(readBe16(frame + 14), kSllHeader);
            }
            break;
        case kLinuxSll2:
            if (capturedLength >= kSll2Header) {
                found = behindEtherType(readBe16(frame), kSll2Header);
            }
            break;
        case kRaw:
        case kRawAlt:
        case kRawLinktype:
            found = Found{0, 0};
            break;
        case kIpv4:
            found = Found{0, 4};
            break;
        case kIpv6:
            found = Found{0, 6};
            break;
        case kNull:
            found = nullPayload(frame, capturedLength, false);
            break;
        case kLoop:
            found = nullPayload(frame, capturedLength, true);
            break;
        default:
            return -1;
    }
    int offset = found.offset;
    if (offset < 0 || static_cast<std::uint32_t>(offset) >= capturedLength) {
        return -1;
    }
    // The version nibble must be IP and agree with what the link layer announced.
    int version = frame[offset] >> 4;
    if ((version != 4 && version != 6) || (found.version != 0 && version != found.version)) {
        return -1;
    }
    return offset;
}

bool DatagramExtractor::extract(int linkType, const std::uint8_t* frame,
                                std::uint32_t capturedLength, CapturedPacket& out) {
    int offset = datagramOffset(linkType, frame, capturedLength);
    if (offset < 0) {
        return false;
    }
    const std::uint8_t* datagram = frame + offset;
    copyDatagram(datagram,
                 datagramLength(datagram, capturedLength - static_cast<std::uint32_t>(offset)),
                 out);
    return true;
}

void DatagramExtractor::copyDatagram(const std::uint8_t* datagram, std::uint32_t length,
                                     CapturedPacket& out) {
    length = std::min(length, CapturedPacket::kCapacity);
    std::uint32_t previous = std::min(out.length, CapturedPacket::kCapacity);
    copyDatagramOnly(datagram, length, out);
    if (previous > length) {
        std::memset(out.data + length, 0, previous - length);
    }
}

void DatagramExtractor::copyDatagramOnly(const std::uint8_t* datagram, std::uint32_t length,
                                         CapturedPacket& out) {
    length = std::min(length, CapturedPacket::kCapacity);
    std::memcpy(out.data, datagram, length);
    out.length = length;
}

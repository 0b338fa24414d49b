#include "core/quic/QuicPacketHeader.h"

#include "core/quic/QuicVarInt.h"
#include "core/tls/ByteReader.h"

namespace {

using Parse = QuicPacketHeader::Parse;

// The packet number and the 16-byte sample of header protection follow the header: a packet
// with fewer bytes after it cannot be opened.
constexpr std::size_t kMinProtected = 4 + 16;

bool readId(ByteReader& reader, QuicConnectionId& id) {
    std::span<const std::uint8_t> bytes;
    if (!reader.vector(1, bytes) || bytes.size() > QuicConnectionId::kMaxLength) {
        return false;
    }
    id = *QuicConnectionId::of(bytes);
    return true;
}

Parse parseShort(std::span<const std::uint8_t> bytes, std::size_t dcidLength,
                 QuicPacketHeader& out) {
    std::span<const std::uint8_t> dcid;
    ByteReader reader(bytes.subspan(1));
    if (dcidLength > QuicConnectionId::kMaxLength || !reader.bytes(dcidLength, dcid) ||
        reader.remaining() < kMinProtected) {
        return Parse::Malformed;
    }
    out.type = QuicPacketType::OneRtt;
    out.version = nullptr;
    out.dcid = *QuicConnectionId::of(dcid);
    out.scid = {};
    out.token = {};
    out.numberOffset = 1 + dcidLength;
    out.length = bytes.size();
    return Parse::Packet;
}

}  // namespace

QuicPacketHeader::Parse QuicPacketHeader::parse(std::span<const std::uint8_t> bytes,
                                                std::size_t shortDcidLength,
                                                QuicPacketHeader& out) {
    if (bytes.empty()) {
        return Parse::Malformed;
    }
    if (!isLongHeader(bytes[0])) {
        return parseShort(bytes, shortDcidLength, out);
    }
    ByteReader reader(bytes);
    std::uint8_t first = 0;
    std::uint32_t wire = 0;
    std::span<const std::uint8_t> versionBytes;
    if (!reader.u8(first) || !reader.bytes(4, versionBytes)) {
        return Parse::Malformed;
    }
    for (std::uint8_t byte : versionBytes) {
        wire = wire << 8 | byte;
    }
    if (wire == 0) {
        return Parse::VersionNegotiation;
    }
    out.version = QuicVersion::find(wire);
    if (out.version == nullptr) {
        return Parse::UnknownVersion;
    }
    out.type = out.version->longType(first);
    out.token = {};
    if (!readId(reader, out.dcid) || !readId(reader, out.scid)) {
        return Parse::Malformed;
    }
    if (out.type == QuicPacketType::Retry) {
        out.numberOffset = bytes.size() - reader.remaining();
        out.length = bytes.size();
        return Parse::Packet;
    }
    std::uint64_t tokenLength = 0;
    if (out.type == QuicPacketType::Initial &&
        (!QuicVarInt::read(reader, tokenLength) || !reader.bytes(tokenLength, out.token))) {
        return Parse::Malformed;
    }
    std::uint64_t length = 0;
    if (!QuicVarInt::read(reader, length) || length > reader.remaining() ||
        length < kMinProtected) {
        return Parse::Malformed;
    }
    out.numberOffset = bytes.size() - reader.remaining();
    out.length = out.numberOffset + length;
    return Parse::Packet;
}

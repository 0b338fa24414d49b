// Feeds arbitrary IPv4 and IPv6 datagrams to the decoder. The first input byte chooses the
// version, ports and protocol forced into the headers, so most inputs reach the text work.
#include <cstdint>
#include <cstring>
#include <memory>

#include "core/detect/KnownSuffixes.h"
#include "core/detect/StreamDecoder.h"
#include "core/detect/SuffixListFile.h"

namespace {

std::shared_ptr<const SuffixTable> table() {
    static std::shared_ptr<const SuffixTable> t = [] {
        auto built = SuffixListFile::parse(
            ".asf\n.mid\n.wma\n.wmv\n.avi\n.mp3\n.eva\n.wav\n.swf\n.rm\n.flv\n.mp4\n.m4a\n.m4v\n"
            ".webm\n.m3u8\n.mpd\n.ts\n.aac\n.flac\n.ogg\n.opus\n.\x82\xA0\n \n/\n");
        return std::shared_ptr<const SuffixTable>(built);
    }();
    return t;
}

}  // namespace

namespace {

void putPort(CapturedPacket& packet, std::uint32_t at, std::uint16_t port) {
    if (at + 2 <= packet.length) {
        packet.data[at] = static_cast<std::uint8_t>(port >> 8);
        packet.data[at + 1] = static_cast<std::uint8_t>(port);
    }
}

}  // namespace

// Mode byte: bit 0 forces TCP and a port, bits 1-2 choose the port, bit 3 the direction,
// bit 4 fills the whole buffer, bit 5 makes the datagram IPv6 (bits 6-7 then choose the first
// next header: TCP, hop-by-hop, routing or fragment), bit 6 of an IPv4 datagram adds ports.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    auto packet = std::make_unique<CapturedPacket>();
    std::uint8_t mode = data[0];
    ++data;
    --size;
    packet->length = static_cast<std::uint32_t>(
        size < CapturedPacket::kCapacity ? size : CapturedPacket::kCapacity);
    std::memcpy(packet->data, data, packet->length);
    static const std::uint16_t ports[] = {80, 1755, 554, 8080};
    const std::uint16_t port = ports[(mode >> 1) & 3];
    const bool ipv6 = (mode & 32) != 0;
    if (ipv6 && packet->length >= 40) {
        static const std::uint8_t firstHeaders[] = {6, 0, 43, 44};
        packet->data[0] = static_cast<std::uint8_t>(0x60 | (packet->data[0] & 0x0F));
        packet->data[6] = firstHeaders[mode >> 6];
        if ((mode & 1) != 0 && packet->data[6] == 6) {
            putPort(*packet, (mode & 8) != 0 ? 40 : 42, port);
        }
    } else if ((mode & 1) != 0 && packet->length >= 24) {
        packet->data[9] = 6;
        // The ports behind the IPv4 header's options, where the decoder reads them.
        std::uint32_t tcp = (packet->data[0] & 0x0Fu) * 4;
        putPort(*packet, ((mode & 8) != 0 ? 0 : 2) + (tcp < 20 ? 20 : tcp), port);
    }
    if ((mode & 16) != 0) {
        packet->length = CapturedPacket::kCapacity;  // the whole buffer, no zero byte after
    }
    WatchedPorts watched;
    if (!ipv6 && (mode & 64) != 0) {
        watched.add(8080);
        watched.add(8000);
    }
    AdapterEntry adapter{};
    DetectedStream record;
    const bool worth = StreamDecoder::worthDecoding(packet->data, packet->length, watched);
    if (StreamDecoder::decode(*packet, *table(), &adapter, watched, record) == 0) {
        // A detection always has terminated, non-empty host and path within their fields, a
        // terminated query that is empty or starts with "?", and passed the cheap test.
        if (!worth || record.host[0] == '\0' || record.path[0] == '\0' ||
            std::memchr(record.host, 0, sizeof record.host) == nullptr ||
            std::memchr(record.path, 0, sizeof record.path) == nullptr ||
            std::memchr(record.query, 0, sizeof record.query) == nullptr ||
            (record.query[0] != '\0' && record.query[0] != '?')) {
            __builtin_trap();
        }
    }
    return 0;
}

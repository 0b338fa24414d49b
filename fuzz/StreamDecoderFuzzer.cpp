// Feeds arbitrary datagrams to the decoder. The first input byte chooses the ports and
// protocol forced into the header, so most inputs reach the text work.
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
            ".asf\n.mid\n.wma\n.wmv\n.avi\n.mp3\n.eva\n.wav\n.swf\n.rm\n.flv\n.\x82\xA0\n \n/\n");
        return std::shared_ptr<const SuffixTable>(built);
    }();
    return t;
}

}  // namespace

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
    if ((mode & 1) != 0 && packet->length >= 24) {
        packet->data[9] = 6;
        static const std::uint16_t ports[] = {80, 1755, 554, 8080};
        std::uint16_t port = ports[(mode >> 1) & 3];
        packet->data[(mode & 8) != 0 ? 20 : 22] = static_cast<std::uint8_t>(port >> 8);
        packet->data[(mode & 8) != 0 ? 21 : 23] = static_cast<std::uint8_t>(port);
    }
    if ((mode & 16) != 0) {
        packet->length = CapturedPacket::kCapacity;  // the whole buffer, no zero byte after
    }
    AdapterEntry adapter{};
    DetectedStream record;
    if (StreamDecoder::decode(*packet, *table(), &adapter, record) == 0) {
        // A detection always has terminated, non-empty host and path within their fields.
        if (record.host[0] == '\0' || record.path[0] == '\0' ||
            std::memchr(record.host, 0, sizeof record.host) == nullptr ||
            std::memchr(record.path, 0, sizeof record.path) == nullptr) {
            __builtin_trap();
        }
    }
    return 0;
}

#include "core/flow/FlowKey.h"

#include <cstring>

#include "core/flow/TcpSegmentView.h"

namespace {

// Whether endpoint (a, aPort) orders before or as (b, bPort).
bool endpointFirst(const std::uint8_t* a, std::uint16_t aPort, const std::uint8_t* b,
                   std::uint16_t bPort, std::size_t addressBytes) {
    const int order = std::memcmp(a, b, addressBytes);
    return order < 0 || (order == 0 && aPort <= bPort);
}

std::uint64_t mixed(std::uint64_t h) {
    h ^= h >> 31;
    h *= 0x7FB5D329728EA185ull;
    h ^= h >> 27;
    h *= 0x81DADEF4BC2DD44Dull;
    h ^= h >> 33;
    return h;
}

}  // namespace

FlowKey FlowKey::of(const TcpSegmentView& segment, bool& senderFirst) {
    const std::size_t addressBytes = segment.ipv6 ? 16 : 4;
    senderFirst = endpointFirst(segment.srcAddr, segment.srcPort, segment.dstAddr, segment.dstPort,
                                addressBytes);
    const std::uint8_t* first = senderFirst ? segment.srcAddr : segment.dstAddr;
    const std::uint8_t* second = senderFirst ? segment.dstAddr : segment.srcAddr;
    const std::uint16_t firstPort = senderFirst ? segment.srcPort : segment.dstPort;
    const std::uint16_t secondPort = senderFirst ? segment.dstPort : segment.srcPort;
    FlowKey key;
    auto* bytes = reinterpret_cast<std::uint8_t*>(key.words.data());
    std::memcpy(bytes, first, addressBytes);
    std::memcpy(bytes + 16, second, addressBytes);
    key.words[4] = std::uint64_t{firstPort} << 16 | secondPort | std::uint64_t{segment.ipv6} << 32;
    return key;
}

std::size_t FlowKey::Hash::operator()(const FlowKey& key) const {
    // One multiply a word, one full mix at the end: this runs for every followed segment.
    std::uint64_t h = seed;
    for (std::uint64_t word : key.words) {
        h = (h ^ word) * 0x9E3779B97F4A7C15ull;
        h ^= h >> 32;
    }
    return static_cast<std::size_t>(mixed(h));
}

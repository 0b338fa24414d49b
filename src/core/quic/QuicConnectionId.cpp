#include "core/quic/QuicConnectionId.h"

#include <algorithm>
#include <cstring>

namespace {

// splitmix64's finaliser: every input bit reaches every output bit.
std::uint64_t mixed(std::uint64_t h) {
    h ^= h >> 30;
    h *= 0xBF58476D1CE4E5B9ULL;
    h ^= h >> 27;
    h *= 0x94D049BB133111EBULL;
    return h ^ (h >> 31);
}

}  // namespace

std::optional<QuicConnectionId> QuicConnectionId::of(std::span<const std::uint8_t> bytes) {
    if (bytes.size() > kMaxLength) {
        return std::nullopt;
    }
    QuicConnectionId id;
    std::copy(bytes.begin(), bytes.end(), id.bytes.begin());
    id.length = static_cast<std::uint8_t>(bytes.size());
    return id;
}

std::size_t QuicConnectionId::Hash::operator()(const QuicConnectionId& id) const {
    std::uint64_t h = mixed(seed ^ id.length);
    for (std::size_t at = 0; at < id.length; at += 8) {
        std::uint64_t word = 0;
        std::memcpy(&word, id.bytes.data() + at, std::min<std::size_t>(8, kMaxLength - at));
        h = mixed(h ^ word);
    }
    return static_cast<std::size_t>(h);
}

#include "core/store/StreamKeyHash.h"

#include <cstring>

// Host and path are hashed apart, so that their two chains of multiplications overlap.
std::uint32_t StreamKeyHash::of(std::string_view host, std::string_view path) {
    const std::uint64_t h =
        mix(hashBytes(0x2545F4914F6CDD1Dull, host), hashBytes(0x9E3779B97F4A7C15ull, path));
    return static_cast<std::uint32_t>(h ^ (h >> 32));
}

std::uint64_t StreamKeyHash::mix(std::uint64_t h, std::uint64_t word) {
    h ^= word;
    h *= 0x9E3779B97F4A7C15ull;
    return h ^ (h >> 29);
}

std::uint64_t StreamKeyHash::hashBytes(std::uint64_t h, std::string_view bytes) {
    std::size_t i = 0;
    for (; i + 8 <= bytes.size(); i += 8) {
        std::uint64_t word;
        std::memcpy(&word, bytes.data() + i, 8);
        h = mix(h, word);
    }
    std::uint64_t tail = 0;
    if (i < bytes.size()) {
        std::memcpy(&tail, bytes.data() + i, bytes.size() - i);
    }
    return mix(h, tail ^ (std::uint64_t{bytes.size()} << 56));
}

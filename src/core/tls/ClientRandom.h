#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

// The 32 random bytes of a ClientHello: what names a TLS connection in a key log.
using ClientRandom = std::array<std::uint8_t, 32>;

// The bytes are random already: their first word is a good enough hash.
struct ClientRandomHash {
    std::size_t operator()(const ClientRandom& random) const {
        std::size_t hash;
        std::memcpy(&hash, random.data(), sizeof hash);
        return hash;
    }
};

#pragma once

#include <cstddef>
#include <cstdint>

// A cipher suite whose records can be opened: its AEAD cipher and the hash its keys come from.
struct TlsCipherSuite {
    enum class Aead { Aes128Gcm, Aes256Gcm, ChaCha20Poly1305 };

    static constexpr std::uint16_t kTls12 = 0x0303;
    static constexpr std::uint16_t kTls13 = 0x0304;

    std::uint16_t id;
    std::uint16_t version;  // kTls12 or kTls13
    Aead aead;
    const char* digest;  // OpenSSL's name of the hash ("SHA256", "SHA384")
    std::uint8_t keyLength;
    std::uint8_t hashLength;

    // The part of each record's nonce that the keys fix: all 12 bytes, except for TLS 1.2
    // AES-GCM where the record carries 8 bytes after a 4-byte salt.
    std::size_t fixedIvLength() const {
        return version == kTls12 && aead != Aead::ChaCha20Poly1305 ? 4 : 12;
    }

    // The suite `id` when records of `version` with it can be opened; nullptr otherwise.
    static const TlsCipherSuite* find(std::uint16_t id, std::uint16_t version);
};

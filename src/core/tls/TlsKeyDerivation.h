#pragma once

#include <cstdint>
#include <span>
#include <string_view>

// The key schedule steps a reader of the traffic needs, through OpenSSL's KDFs.
class TlsKeyDerivation {
  public:
    // HKDF-Extract(salt, inputKey) with the hash named `digest`; `out` is the hash's length.
    static bool extract(const char* digest, std::span<const std::uint8_t> salt,
                        std::span<const std::uint8_t> inputKey, std::span<std::uint8_t> out);

    // TLS 1.3 HKDF-Expand-Label(secret, label, "", out.size()) with the hash named `digest`.
    static bool expandLabel(const char* digest, std::span<const std::uint8_t> secret,
                            std::string_view label, std::span<std::uint8_t> out);

    // The TLS 1.2 key block: PRF(master secret, "key expansion", server random + client random).
    static bool keyBlock(const char* digest, std::span<const std::uint8_t> masterSecret,
                         std::span<const std::uint8_t> serverRandom,
                         std::span<const std::uint8_t> clientRandom, std::span<std::uint8_t> out);
};

#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "core/tls/TlsCipherSuite.h"

struct evp_cipher_ctx_st;

// Header protection of one direction and level: a 5-byte mask made from a 16-byte sample of the
// packet's ciphertext, with AES-ECB (the AES-GCM suites) or ChaCha20 (ChaCha20-Poly1305).
class QuicHeaderProtection {
  public:
    static constexpr std::size_t kSampleLength = 16;
    using Mask = std::array<std::uint8_t, 5>;

    QuicHeaderProtection() = default;
    ~QuicHeaderProtection();
    QuicHeaderProtection(const QuicHeaderProtection&) = delete;
    QuicHeaderProtection& operator=(const QuicHeaderProtection&) = delete;
    QuicHeaderProtection(QuicHeaderProtection&& other) noexcept;
    QuicHeaderProtection& operator=(QuicHeaderProtection&& other) noexcept;

    // Takes the "quic hp" key of `aead` (16 or 32 bytes, as the suite's key).
    bool install(TlsCipherSuite::Aead aead, std::span<const std::uint8_t> key);
    void reset();
    bool ready() const { return ready_; }

    // The mask for `sample` (kSampleLength bytes); false when it could not be made.
    bool mask(std::span<const std::uint8_t> sample, Mask& out);

  private:
    evp_cipher_ctx_st* context_ = nullptr;
    bool chacha_ = false;
    bool ready_ = false;
};

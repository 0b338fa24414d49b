#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "core/tls/TlsCipherSuite.h"

struct evp_cipher_ctx_st;

// Opens the protected records of one direction of a TLS connection: one OpenSSL context whose
// key is set once per key and whose nonce changes per record, and the record sequence number.
class TlsRecordCipher {
  public:
    static constexpr std::size_t kTagLength = 16;
    static constexpr std::size_t kNonceLength = 12;

    TlsRecordCipher() = default;
    ~TlsRecordCipher();
    TlsRecordCipher(const TlsRecordCipher&) = delete;
    TlsRecordCipher& operator=(const TlsRecordCipher&) = delete;
    TlsRecordCipher(TlsRecordCipher&& other) noexcept;
    TlsRecordCipher& operator=(TlsRecordCipher&& other) noexcept;

    // Takes a new key (the sequence starts again at 0). `fixedIv` is suite.fixedIvLength() long.
    bool install(const TlsCipherSuite& suite, std::span<const std::uint8_t> key,
                 std::span<const std::uint8_t> fixedIv);
    // Forgets the key; records wait for the next one.
    void reset();
    bool ready() const { return ready_; }
    std::uint64_t sequence() const { return sequence_; }

    // Opens the record with this 5-byte header and body into `out` (at least body.size()
    // bytes). The plaintext's length, or nullopt when the record does not authenticate.
    std::optional<std::size_t> open(std::span<const std::uint8_t> header,
                                    std::span<const std::uint8_t> body,
                                    std::span<std::uint8_t> out);

    // Opens `sealed` (ciphertext and tag) whose nonce is the fixed IV XOR `number`, as QUIC
    // seals a packet under its packet number, with `aad` authenticated, into `out` (at least
    // the ciphertext's size). The record sequence is left as it is.
    std::optional<std::size_t> openAt(std::uint64_t number, std::span<const std::uint8_t> aad,
                                      std::span<const std::uint8_t> sealed,
                                      std::span<std::uint8_t> out);

  private:
    std::array<std::uint8_t, kNonceLength> sequenceNonce(std::uint64_t sequence) const;
    std::optional<std::size_t> openSealed(std::span<const std::uint8_t> aad,
                                          std::span<const std::uint8_t> sealed,
                                          std::span<std::uint8_t> out);

    evp_cipher_ctx_st* context_ = nullptr;
    std::array<std::uint8_t, kNonceLength> iv_{};
    std::uint64_t sequence_ = 0;
    std::uint16_t version_ = 0;
    bool explicitNonce_ = false;  // TLS 1.2 AES-GCM: 8 nonce bytes lead each record
    bool ready_ = false;
};

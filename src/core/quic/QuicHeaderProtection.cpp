#include "core/quic/QuicHeaderProtection.h"

#include <openssl/evp.h>

#include <algorithm>
#include <utility>

namespace {

using Aead = TlsCipherSuite::Aead;

// Fetched once for the process, not at every key.
const EVP_CIPHER* maskCipher(Aead aead) {
    static EVP_CIPHER* const ciphers[] = {
        EVP_CIPHER_fetch(nullptr, "AES-128-ECB", nullptr),
        EVP_CIPHER_fetch(nullptr, "AES-256-ECB", nullptr),
        EVP_CIPHER_fetch(nullptr, "ChaCha20", nullptr),
    };
    return ciphers[static_cast<int>(aead)];
}

}  // namespace

QuicHeaderProtection::~QuicHeaderProtection() {
    EVP_CIPHER_CTX_free(context_);
}

QuicHeaderProtection::QuicHeaderProtection(QuicHeaderProtection&& other) noexcept {
    *this = std::move(other);
}

QuicHeaderProtection& QuicHeaderProtection::operator=(QuicHeaderProtection&& other) noexcept {
    if (this != &other) {
        std::swap(context_, other.context_);
        std::swap(chacha_, other.chacha_);
        std::swap(ready_, other.ready_);
        other.reset();
    }
    return *this;
}

void QuicHeaderProtection::reset() {
    if (context_ != nullptr) {
        EVP_CIPHER_CTX_reset(context_);  // wipes the key schedule
    }
    ready_ = false;
}

bool QuicHeaderProtection::install(Aead aead, std::span<const std::uint8_t> key) {
    reset();
    const EVP_CIPHER* cipher = maskCipher(aead);
    if (context_ == nullptr) {
        context_ = EVP_CIPHER_CTX_new();
    }
    if (cipher == nullptr || context_ == nullptr ||
        key.size() != static_cast<std::size_t>(EVP_CIPHER_get_key_length(cipher))) {
        return false;
    }
    chacha_ = aead == Aead::ChaCha20Poly1305;
    // ChaCha20 takes its counter and nonce from each sample; AES-ECB keeps its key for all.
    if (EVP_EncryptInit_ex(context_, cipher, nullptr, key.data(), nullptr) <= 0 ||
        (!chacha_ && EVP_CIPHER_CTX_set_padding(context_, 0) <= 0)) {
        reset();
        return false;
    }
    ready_ = true;
    return true;
}

bool QuicHeaderProtection::mask(std::span<const std::uint8_t> sample, Mask& out) {
    if (!ready_ || sample.size() != kSampleLength) {
        return false;
    }
    std::array<std::uint8_t, kSampleLength> block{};
    int length = 0;
    if (chacha_) {
        // The sample is the cipher's 16-byte IV: a 4-byte little-endian counter, then the nonce.
        static constexpr std::array<std::uint8_t, 5> kZeros{};
        if (EVP_EncryptInit_ex(context_, nullptr, nullptr, nullptr, sample.data()) <= 0 ||
            EVP_EncryptUpdate(context_, block.data(), &length, kZeros.data(), kZeros.size()) <= 0) {
            return false;
        }
    } else if (EVP_EncryptUpdate(context_, block.data(), &length, sample.data(),
                                 static_cast<int>(sample.size())) <= 0 ||
               length != static_cast<int>(kSampleLength)) {
        return false;
    }
    std::copy_n(block.begin(), out.size(), out.begin());
    return true;
}

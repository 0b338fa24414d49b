#include "core/tls/TlsRecordCipher.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <algorithm>
#include <utility>

namespace {

constexpr std::size_t kHeaderLength = 5;
constexpr std::size_t kExplicitNonceLength = 8;

// Fetched once for the process, not at every key.
const EVP_CIPHER* aeadCipher(TlsCipherSuite::Aead aead) {
    static EVP_CIPHER* const ciphers[] = {
        EVP_CIPHER_fetch(nullptr, "AES-128-GCM", nullptr),
        EVP_CIPHER_fetch(nullptr, "AES-256-GCM", nullptr),
        EVP_CIPHER_fetch(nullptr, "ChaCha20-Poly1305", nullptr),
    };
    return ciphers[static_cast<int>(aead)];
}

void putSequence(std::uint64_t sequence, std::uint8_t* to) {
    for (int i = 7; i >= 0; --i) {
        to[i] = static_cast<std::uint8_t>(sequence);
        sequence >>= 8;
    }
}

}  // namespace

TlsRecordCipher::~TlsRecordCipher() {
    reset();
    EVP_CIPHER_CTX_free(context_);
}

TlsRecordCipher::TlsRecordCipher(TlsRecordCipher&& other) noexcept {
    *this = std::move(other);
}

TlsRecordCipher& TlsRecordCipher::operator=(TlsRecordCipher&& other) noexcept {
    if (this != &other) {
        std::swap(context_, other.context_);
        std::swap(iv_, other.iv_);
        std::swap(sequence_, other.sequence_);
        std::swap(version_, other.version_);
        std::swap(explicitNonce_, other.explicitNonce_);
        std::swap(ready_, other.ready_);
        other.reset();
    }
    return *this;
}

void TlsRecordCipher::reset() {
    // Resetting the context wipes its key schedule too.
    if (context_ != nullptr) {
        EVP_CIPHER_CTX_reset(context_);
    }
    OPENSSL_cleanse(iv_.data(), iv_.size());
    sequence_ = 0;
    ready_ = false;
}

bool TlsRecordCipher::install(const TlsCipherSuite& suite, std::span<const std::uint8_t> key,
                              std::span<const std::uint8_t> fixedIv) {
    reset();
    const EVP_CIPHER* cipher = aeadCipher(suite.aead);
    if (context_ == nullptr) {
        context_ = EVP_CIPHER_CTX_new();
    }
    if (cipher == nullptr || context_ == nullptr || key.size() != suite.keyLength ||
        fixedIv.size() != suite.fixedIvLength() ||
        EVP_DecryptInit_ex(context_, cipher, nullptr, key.data(), nullptr) <= 0) {
        reset();
        return false;
    }
    std::copy(fixedIv.begin(), fixedIv.end(), iv_.begin());
    version_ = suite.version;
    explicitNonce_ = suite.fixedIvLength() == 4;
    ready_ = true;
    return true;
}

std::optional<std::size_t> TlsRecordCipher::open(std::span<const std::uint8_t> header,
                                                 std::span<const std::uint8_t> body,
                                                 std::span<std::uint8_t> out) {
    if (!ready_ || header.size() != kHeaderLength || out.size() < body.size()) {
        return std::nullopt;
    }
    std::array<std::uint8_t, kNonceLength> nonce = iv_;
    std::array<std::uint8_t, 13> aad{};
    std::span<const std::uint8_t> aadUsed = header;
    std::span<const std::uint8_t> sealed = body;
    if (explicitNonce_) {
        if (body.size() < kExplicitNonceLength + kTagLength) {
            return std::nullopt;
        }
        std::copy_n(body.begin(), kExplicitNonceLength, nonce.begin() + 4);
        sealed = body.subspan(kExplicitNonceLength);
    } else {
        nonce = sequenceNonce(sequence_);
    }
    if (sealed.size() < kTagLength) {
        return std::nullopt;
    }
    if (version_ == TlsCipherSuite::kTls12) {
        // seq_num + type + version + length of the plaintext
        std::size_t plainLength = sealed.size() - kTagLength;
        putSequence(sequence_, aad.data());
        std::copy_n(header.begin(), 3, aad.begin() + 8);
        aad[11] = static_cast<std::uint8_t>(plainLength >> 8);
        aad[12] = static_cast<std::uint8_t>(plainLength);
        aadUsed = aad;
    }
    if (EVP_DecryptInit_ex(context_, nullptr, nullptr, nullptr, nonce.data()) <= 0) {
        return std::nullopt;
    }
    std::optional<std::size_t> opened = openSealed(aadUsed, sealed, out);
    if (opened) {
        ++sequence_;
    }
    return opened;
}

std::optional<std::size_t> TlsRecordCipher::openAt(std::uint64_t number,
                                                   std::span<const std::uint8_t> aad,
                                                   std::span<const std::uint8_t> sealed,
                                                   std::span<std::uint8_t> out) {
    if (!ready_ || explicitNonce_ || sealed.size() < kTagLength ||
        out.size() < sealed.size() - kTagLength) {
        return std::nullopt;
    }
    std::array<std::uint8_t, kNonceLength> nonce = sequenceNonce(number);
    if (EVP_DecryptInit_ex(context_, nullptr, nullptr, nullptr, nonce.data()) <= 0) {
        return std::nullopt;
    }
    return openSealed(aad, sealed, out);
}

// The sequence number, left-padded to the nonce's length, XORed into the fixed IV.
std::array<std::uint8_t, TlsRecordCipher::kNonceLength> TlsRecordCipher::sequenceNonce(
    std::uint64_t sequence) const {
    std::array<std::uint8_t, kNonceLength> nonce = iv_;
    std::array<std::uint8_t, 8> number{};
    putSequence(sequence, number.data());
    for (std::size_t i = 0; i < number.size(); ++i) {
        nonce[4 + i] ^= number[i];
    }
    return nonce;
}

std::optional<std::size_t> TlsRecordCipher::openSealed(std::span<const std::uint8_t> aad,
                                                       std::span<const std::uint8_t> sealed,
                                                       std::span<std::uint8_t> out) {
    std::size_t cipherLength = sealed.size() - kTagLength;
    auto* tag = const_cast<std::uint8_t*>(sealed.data() + cipherLength);
    int length = 0;
    int finalLength = 0;
    if (EVP_CIPHER_CTX_ctrl(context_, EVP_CTRL_AEAD_SET_TAG, kTagLength, tag) <= 0 ||
        EVP_DecryptUpdate(context_, nullptr, &length, aad.data(), static_cast<int>(aad.size())) <=
            0) {
        return std::nullopt;
    }
    length = 0;
    if (cipherLength > 0 && EVP_DecryptUpdate(context_, out.data(), &length, sealed.data(),
                                              static_cast<int>(cipherLength)) <= 0) {
        return std::nullopt;
    }
    if (EVP_DecryptFinal_ex(context_, out.data() + length, &finalLength) <= 0) {
        // What was written before the tag check failed is no plaintext anyone may see.
        OPENSSL_cleanse(out.data(), cipherLength);
        return std::nullopt;
    }
    return static_cast<std::size_t>(length + finalLength);
}

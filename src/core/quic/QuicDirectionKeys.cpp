#include "core/quic/QuicDirectionKeys.h"

#include <openssl/crypto.h>

#include <algorithm>
#include <array>

#include "core/quic/QuicPacketHeader.h"
#include "core/quic/QuicPacketNumber.h"
#include "core/tls/TlsKeyDerivation.h"

namespace {

constexpr std::uint8_t kKeyPhaseBit = 0x04;
constexpr std::size_t kMaxKey = 32;

}  // namespace

bool QuicDirectionKeys::install(const TlsCipherSuite& suite, const QuicVersion& version,
                                std::span<const std::uint8_t> secret) {
    reset();
    suite_ = &suite;
    version_ = &version;
    std::array<std::uint8_t, kMaxKey> hp{};
    auto hpKey = std::span(hp).first(suite.keyLength);
    bool ok = secret.size() == suite.hashLength &&
              TlsKeyDerivation::expandLabel(suite.digest, secret, version.hpLabel, hpKey) &&
              protection_.install(suite.aead, hpKey) && derivePhase(secret, current_);
    OPENSSL_cleanse(hp.data(), hp.size());
    if (!ok) {
        reset();
    }
    return ok;
}

void QuicDirectionKeys::reset() {
    protection_.reset();
    for (Phase* phase : {&previous_, &current_, &next_}) {
        phase->cipher.reset();
        phase->secret.clear();
    }
    keyPhase_ = false;
    largest_ = -1;
    currentFirst_ = 0;
    updates_ = 0;
}

// The packet key and IV of one key phase; the secret stays for the next phase's.
bool QuicDirectionKeys::derivePhase(std::span<const std::uint8_t> secret, Phase& phase) {
    std::array<std::uint8_t, kMaxKey + TlsRecordCipher::kNonceLength> block{};
    auto key = std::span(block).first(suite_->keyLength);
    auto iv = std::span(block).subspan(suite_->keyLength, TlsRecordCipher::kNonceLength);
    bool ok = TlsKeyDerivation::expandLabel(suite_->digest, secret, version_->keyLabel, key) &&
              TlsKeyDerivation::expandLabel(suite_->digest, secret, version_->ivLabel, iv) &&
              phase.cipher.install(*suite_, key, iv);
    OPENSSL_cleanse(block.data(), block.size());
    phase.secret.assign(secret);
    return ok;
}

std::optional<QuicDirectionKeys::Opened> QuicDirectionKeys::open(
    std::span<const std::uint8_t> packet, std::size_t numberOffset, std::span<std::uint8_t> out) {
    std::size_t numberLength = 0;
    if (!ready() || !unmaskHeader(packet, numberOffset, numberLength)) {
        return std::nullopt;
    }
    std::uint64_t truncated = 0;
    for (std::size_t i = 0; i < numberLength; ++i) {
        truncated = truncated << 8 | header_[numberOffset + i];
    }
    const std::uint64_t number =
        QuicPacketNumber::decode(largest_, truncated, static_cast<unsigned>(8 * numberLength));
    const bool shortHeader = !QuicPacketHeader::isLongHeader(header_[0]);
    bool updates = false;
    Phase* phase =
        shortHeader ? phaseFor((header_[0] & kKeyPhaseBit) != 0, number, updates) : &current_;
    const std::size_t headerLength = numberOffset + numberLength;
    std::optional<std::size_t> opened;
    if (phase != nullptr) {
        opened = phase->cipher.openAt(number, std::span(header_).first(headerLength),
                                      packet.subspan(headerLength), out);
    }
    if (!opened) {
        return std::nullopt;
    }
    if (updates) {
        advancePhase(number);
    }
    largest_ = std::max<std::int64_t>(largest_, static_cast<std::int64_t>(number));
    return Opened{number, out.first(*opened)};
}

// Copies the header and removes its protection: the low bits of the first byte and the packet
// number, masked with a sample taken 4 bytes after the number starts.
bool QuicDirectionKeys::unmaskHeader(std::span<const std::uint8_t> packet, std::size_t numberOffset,
                                     std::size_t& numberLength) {
    constexpr std::size_t kMaxNumberLength = 4;
    const std::size_t sampleAt = numberOffset + kMaxNumberLength;
    QuicHeaderProtection::Mask mask{};
    if (packet.size() < sampleAt + QuicHeaderProtection::kSampleLength ||
        !protection_.mask(packet.subspan(sampleAt, QuicHeaderProtection::kSampleLength), mask)) {
        return false;
    }
    header_.assign(packet.begin(), packet.begin() + static_cast<std::ptrdiff_t>(sampleAt));
    header_[0] ^= static_cast<std::uint8_t>(
        mask[0] & (QuicPacketHeader::isLongHeader(header_[0]) ? 0x0F : 0x1F));
    numberLength = (header_[0] & 0x03) + 1u;
    for (std::size_t i = 0; i < numberLength; ++i) {
        header_[numberOffset + i] ^= mask[1 + i];
    }
    return true;
}

// The keys a 1-RTT packet is sealed with, by its key phase bit: the current ones, the previous
// ones for a packet from before the last update, else the next ones (`updates`: the peer moved).
QuicDirectionKeys::Phase* QuicDirectionKeys::phaseFor(bool keyPhase, std::uint64_t number,
                                                      bool& updates) {
    if (keyPhase == keyPhase_) {
        return &current_;
    }
    if (number < currentFirst_ && previous_.cipher.ready()) {
        return &previous_;
    }
    if (!next_.cipher.ready()) {
        SecretBytes secret;
        if (!TlsKeyDerivation::expandLabel(suite_->digest, current_.secret.bytes(),
                                           version_->updateLabel,
                                           secret.writable(suite_->hashLength)) ||
            !derivePhase(secret.bytes(), next_)) {
            next_.cipher.reset();
            return nullptr;
        }
    }
    updates = true;
    return &next_;
}

void QuicDirectionKeys::advancePhase(std::uint64_t firstNumber) {
    std::swap(previous_, current_);
    std::swap(current_, next_);
    next_.cipher.reset();
    next_.secret.clear();
    keyPhase_ = !keyPhase_;
    currentFirst_ = firstNumber;
    ++updates_;
}

#include "QuicPacketSealer.h"

#include <openssl/evp.h>

#include <algorithm>

#include "core/quic/QuicHeaderProtection.h"
#include "core/tls/TlsKeyDerivation.h"

namespace {

constexpr std::size_t kNumberLength = 4;
constexpr std::size_t kTagLength = 16;

// Byte by byte: g++ 12 warns about its own inlined copies of small vectors at -O3.
void append(std::vector<std::uint8_t>& to, std::span<const std::uint8_t> bytes) {
    for (std::uint8_t byte : bytes) {
        to.push_back(byte);
    }
}

void append(std::vector<std::uint8_t>& to, std::initializer_list<std::uint8_t> bytes) {
    append(to, std::span(bytes.begin(), bytes.size()));
}

std::vector<std::uint8_t> expand(const TlsCipherSuite& suite, std::span<const std::uint8_t> secret,
                                 const char* label, std::size_t length) {
    std::vector<std::uint8_t> out(length);
    TlsKeyDerivation::expandLabel(suite.digest, secret, label, out);
    return out;
}

// Fetched once: fetching costs more than sealing a packet.
const EVP_CIPHER* aeadCipher(TlsCipherSuite::Aead aead) {
    static EVP_CIPHER* const ciphers[] = {
        EVP_CIPHER_fetch(nullptr, "AES-128-GCM", nullptr),
        EVP_CIPHER_fetch(nullptr, "AES-256-GCM", nullptr),
        EVP_CIPHER_fetch(nullptr, "ChaCha20-Poly1305", nullptr),
    };
    return ciphers[static_cast<int>(aead)];
}

std::uint8_t typeBits(const QuicVersion& version, QuicPacketType type) {
    for (std::uint8_t bits = 0; bits < 4; ++bits) {
        if (version.longTypes[bits] == type) {
            return bits;
        }
    }
    return 0;
}

}  // namespace

QuicPacketSealer::QuicPacketSealer(const QuicVersion& version, const TlsCipherSuite& suite,
                                   std::span<const std::uint8_t> secret)
    : version_(version), suite_(suite), secret_(secret.begin(), secret.end()) {
    deriveKeys();
    hp_ = expand(suite_, secret_, version_.hpLabel, suite_.keyLength);
}

void QuicPacketSealer::deriveKeys() {
    key_ = expand(suite_, secret_, version_.keyLabel, suite_.keyLength);
    iv_ = expand(suite_, secret_, version_.ivLabel, 12);
}

void QuicPacketSealer::update() {
    secret_ = expand(suite_, secret_, version_.updateLabel, suite_.hashLength);
    deriveKeys();
    keyPhase_ = !keyPhase_;
}

std::vector<std::uint8_t> QuicPacketSealer::header(QuicPacketType type,
                                                   const QuicConnectionId& dcid,
                                                   const QuicConnectionId& scid,
                                                   std::size_t sealedLength) const {
    std::vector<std::uint8_t> out;
    if (type == QuicPacketType::OneRtt) {
        out.push_back(
            static_cast<std::uint8_t>(0x40 | (keyPhase_ ? 0x04 : 0) | (kNumberLength - 1)));
        append(out, dcid.view());
        return out;
    }
    out.push_back(
        static_cast<std::uint8_t>(0xC0 | typeBits(version_, type) << 4 | (kNumberLength - 1)));
    for (int shift = 24; shift >= 0; shift -= 8) {
        out.push_back(static_cast<std::uint8_t>(version_.wire >> shift));
    }
    for (const QuicConnectionId* id : {&dcid, &scid}) {
        out.push_back(id->length);
        append(out, id->view());
    }
    if (type == QuicPacketType::Initial) {
        out.push_back(0);  // no token
    }
    const std::size_t length = kNumberLength + sealedLength;
    out.push_back(static_cast<std::uint8_t>(0x40 | length >> 8));
    out.push_back(static_cast<std::uint8_t>(length));
    return out;
}

std::vector<std::uint8_t> QuicPacketSealer::seal(QuicPacketType type, const QuicConnectionId& dcid,
                                                 const QuicConnectionId& scid, std::uint64_t number,
                                                 std::span<const std::uint8_t> frames) const {
    std::vector<std::uint8_t> packet = header(type, dcid, scid, frames.size() + kTagLength);
    const std::size_t numberOffset = packet.size();
    for (int shift = 24; shift >= 0; shift -= 8) {
        packet.push_back(static_cast<std::uint8_t>(number >> shift));
    }
    std::vector<std::uint8_t> nonce = iv_;
    for (int i = 0; i < 8; ++i) {
        nonce[4 + i] ^= static_cast<std::uint8_t>(number >> (56 - 8 * i));
    }
    std::vector<std::uint8_t> sealed(frames.size() + kTagLength);
    EVP_CIPHER_CTX* context = EVP_CIPHER_CTX_new();
    int length = 0;
    EVP_EncryptInit_ex(context, aeadCipher(suite_.aead), nullptr, key_.data(), nonce.data());
    EVP_EncryptUpdate(context, nullptr, &length, packet.data(), static_cast<int>(packet.size()));
    EVP_EncryptUpdate(context, sealed.data(), &length, frames.data(),
                      static_cast<int>(frames.size()));
    EVP_EncryptFinal_ex(context, sealed.data() + length, &length);
    EVP_CIPHER_CTX_ctrl(context, EVP_CTRL_AEAD_GET_TAG, kTagLength, sealed.data() + frames.size());
    EVP_CIPHER_CTX_free(context);
    append(packet, sealed);

    QuicHeaderProtection protection;
    QuicHeaderProtection::Mask mask{};
    protection.install(suite_.aead, hp_);
    protection.mask(std::span(packet).subspan(numberOffset + kNumberLength, 16), mask);
    packet[0] ^=
        static_cast<std::uint8_t>(mask[0] & (type == QuicPacketType::OneRtt ? 0x1F : 0x0F));
    for (std::size_t i = 0; i < kNumberLength; ++i) {
        packet[numberOffset + i] ^= mask[1 + i];
    }
    return packet;
}

namespace quic_frames {

std::vector<std::uint8_t> varint(std::uint64_t value) {
    if (value < 64) {
        return {static_cast<std::uint8_t>(value)};
    }
    std::vector<std::uint8_t> out;
    for (int shift = 56; shift >= 0; shift -= 8) {
        out.push_back(static_cast<std::uint8_t>(value >> shift));
    }
    out[0] |= 0xC0;
    return out;
}

std::vector<std::uint8_t> crypto(std::uint64_t offset, std::span<const std::uint8_t> data) {
    std::vector<std::uint8_t> out{0x06};
    append(out, varint(offset));
    append(out, varint(data.size()));
    append(out, data);
    return out;
}

std::vector<std::uint8_t> stream(std::uint64_t id, std::uint64_t offset, const std::string& data,
                                 bool fin) {
    std::vector<std::uint8_t> out{static_cast<std::uint8_t>(0x0E | (fin ? 1 : 0))};
    append(out, varint(id));
    append(out, varint(offset));
    append(out, varint(data.size()));
    append(out, {reinterpret_cast<const std::uint8_t*>(data.data()), data.size()});
    return out;
}

std::vector<std::uint8_t> newConnectionId(std::uint64_t sequence, const QuicConnectionId& id) {
    std::vector<std::uint8_t> out{0x18};
    append(out, varint(sequence));
    out.push_back(0);  // retire prior to
    out.push_back(id.length);
    append(out, id.view());
    out.resize(out.size() + 16, 0xAA);  // stateless reset token
    return out;
}

std::vector<std::uint8_t> connectionClose() {
    return {0x1D, 0x00, 0x00};  // application close, no error, no reason
}

namespace {

std::vector<std::uint8_t> message(std::uint8_t type, const std::vector<std::uint8_t>& body) {
    std::vector<std::uint8_t> out{type, static_cast<std::uint8_t>(body.size() >> 16),
                                  static_cast<std::uint8_t>(body.size() >> 8),
                                  static_cast<std::uint8_t>(body.size())};
    append(out, body);
    return out;
}

void extension(std::vector<std::uint8_t>& to, std::uint16_t type,
               const std::vector<std::uint8_t>& data) {
    append(to,
           {static_cast<std::uint8_t>(type >> 8), static_cast<std::uint8_t>(type),
            static_cast<std::uint8_t>(data.size() >> 8), static_cast<std::uint8_t>(data.size())});
    append(to, data);
}

std::vector<std::uint8_t> alpnList(const std::string& protocol) {
    std::vector<std::uint8_t> list{0, static_cast<std::uint8_t>(protocol.size() + 1),
                                   static_cast<std::uint8_t>(protocol.size())};
    append(list, {reinterpret_cast<const std::uint8_t*>(protocol.data()), protocol.size()});
    return list;
}

std::vector<std::uint8_t> withLength16(const std::vector<std::uint8_t>& data) {
    std::vector<std::uint8_t> out{static_cast<std::uint8_t>(data.size() >> 8),
                                  static_cast<std::uint8_t>(data.size())};
    append(out, data);
    return out;
}

}  // namespace

std::vector<std::uint8_t> clientHello(const std::uint8_t (&random)[32], const std::string& name,
                                      std::size_t padding) {
    std::vector<std::uint8_t> body{0x03, 0x03};
    append(body, random);
    append(body, {0x00, 0x00, 0x02, 0x13, 0x01, 0x01, 0x00});
    std::vector<std::uint8_t> extensions;
    std::vector<std::uint8_t> serverName{0, static_cast<std::uint8_t>(name.size() + 3), 0, 0,
                                         static_cast<std::uint8_t>(name.size())};
    append(serverName, {reinterpret_cast<const std::uint8_t*>(name.data()), name.size()});
    extension(extensions, 0, serverName);
    extension(extensions, 16, alpnList("h3"));
    extension(extensions, 21, std::vector<std::uint8_t>(padding, 0));
    append(body, withLength16(extensions));
    return message(1, body);
}

std::vector<std::uint8_t> serverHello(std::uint16_t suite) {
    std::vector<std::uint8_t> body(2 + 32, 0x5E);  // version, then the random
    body[0] = body[1] = 0x03;
    append(body,
           {0x00, static_cast<std::uint8_t>(suite >> 8), static_cast<std::uint8_t>(suite), 0x00});
    std::vector<std::uint8_t> extensions;
    extension(extensions, 43, {0x03, 0x04});
    append(body, withLength16(extensions));
    return message(2, body);
}

std::vector<std::uint8_t> encryptedExtensions(const std::string& alpn) {
    std::vector<std::uint8_t> extensions;
    extension(extensions, 16, alpnList(alpn));
    return message(8, withLength16(extensions));
}

}  // namespace quic_frames

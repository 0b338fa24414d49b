#include "core/tls/TlsCipherSuite.h"

namespace {

using Aead = TlsCipherSuite::Aead;
constexpr std::uint16_t k12 = TlsCipherSuite::kTls12;
constexpr std::uint16_t k13 = TlsCipherSuite::kTls13;

// TLS 1.2 suites differ only in how the master secret was agreed; the key log gives it whatever
// the key exchange was, so the RSA and DHE kinds open like the ECDHE ones.
constexpr TlsCipherSuite kSuites[] = {
    {0x1301, k13, Aead::Aes128Gcm, "SHA256", 16, 32},  // TLS_AES_128_GCM_SHA256
    {0x1302, k13, Aead::Aes256Gcm, "SHA384", 32, 48},  // TLS_AES_256_GCM_SHA384
    {0x1303, k13, Aead::ChaCha20Poly1305, "SHA256", 32, 32},
    {0xC02B, k12, Aead::Aes128Gcm, "SHA256", 16, 32},         // ECDHE_ECDSA_WITH_AES_128_GCM_SHA256
    {0xC02F, k12, Aead::Aes128Gcm, "SHA256", 16, 32},         // ECDHE_RSA_WITH_AES_128_GCM_SHA256
    {0xC02C, k12, Aead::Aes256Gcm, "SHA384", 32, 48},         // ECDHE_ECDSA_WITH_AES_256_GCM_SHA384
    {0xC030, k12, Aead::Aes256Gcm, "SHA384", 32, 48},         // ECDHE_RSA_WITH_AES_256_GCM_SHA384
    {0xCCA8, k12, Aead::ChaCha20Poly1305, "SHA256", 32, 32},  // ECDHE_RSA_WITH_CHACHA20_POLY1305
    {0xCCA9, k12, Aead::ChaCha20Poly1305, "SHA256", 32, 32},  // ECDHE_ECDSA_WITH_CHACHA20_POLY1305
    {0xCCAA, k12, Aead::ChaCha20Poly1305, "SHA256", 32, 32},  // DHE_RSA_WITH_CHACHA20_POLY1305
    {0x009C, k12, Aead::Aes128Gcm, "SHA256", 16, 32},         // RSA_WITH_AES_128_GCM_SHA256
    {0x009D, k12, Aead::Aes256Gcm, "SHA384", 32, 48},         // RSA_WITH_AES_256_GCM_SHA384
    {0x009E, k12, Aead::Aes128Gcm, "SHA256", 16, 32},         // DHE_RSA_WITH_AES_128_GCM_SHA256
    {0x009F, k12, Aead::Aes256Gcm, "SHA384", 32, 48},         // DHE_RSA_WITH_AES_256_GCM_SHA384
};

}  // namespace

const TlsCipherSuite* TlsCipherSuite::find(std::uint16_t id, std::uint16_t version) {
    for (const TlsCipherSuite& suite : kSuites) {
        if (suite.id == id && suite.version == version) {
            return &suite;
        }
    }
    return nullptr;
}

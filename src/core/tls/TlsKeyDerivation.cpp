#include "core/tls/TlsKeyDerivation.h"

#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/kdf.h>
#include <openssl/params.h>

#include <array>
#include <memory>
#include <string>

namespace {

struct KdfContextFree {
    void operator()(EVP_KDF_CTX* context) const { EVP_KDF_CTX_free(context); }
};
using KdfContext = std::unique_ptr<EVP_KDF_CTX, KdfContextFree>;

// Fetched once for the process: fetching is the slow part of a derivation.
EVP_KDF* fetchedKdf(const char* name) {
    return EVP_KDF_fetch(nullptr, name, nullptr);
}

EVP_KDF* hkdf() {
    static EVP_KDF* const kdf = fetchedKdf(OSSL_KDF_NAME_HKDF);
    return kdf;
}

EVP_KDF* tls1Prf() {
    static EVP_KDF* const kdf = fetchedKdf(OSSL_KDF_NAME_TLS1_PRF);
    return kdf;
}

bool derive(EVP_KDF* kdf, const OSSL_PARAM* params, std::span<std::uint8_t> out) {
    if (kdf == nullptr) {
        return false;
    }
    KdfContext context(EVP_KDF_CTX_new(kdf));
    return context && EVP_KDF_derive(context.get(), out.data(), out.size(), params) > 0;
}

OSSL_PARAM octets(const char* key, std::span<const std::uint8_t> bytes) {
    return OSSL_PARAM_construct_octet_string(key, const_cast<std::uint8_t*>(bytes.data()),
                                             bytes.size());
}

OSSL_PARAM digestParam(const char* digest) {
    return OSSL_PARAM_construct_utf8_string(OSSL_KDF_PARAM_DIGEST, const_cast<char*>(digest), 0);
}

}  // namespace

bool TlsKeyDerivation::extract(const char* digest, std::span<const std::uint8_t> salt,
                               std::span<const std::uint8_t> inputKey,
                               std::span<std::uint8_t> out) {
    int mode = EVP_KDF_HKDF_MODE_EXTRACT_ONLY;
    const OSSL_PARAM params[] = {
        digestParam(digest),
        OSSL_PARAM_construct_int(OSSL_KDF_PARAM_MODE, &mode),
        octets(OSSL_KDF_PARAM_KEY, inputKey),
        octets(OSSL_KDF_PARAM_SALT, salt),
        OSSL_PARAM_construct_end(),
    };
    return derive(hkdf(), params, out);
}

bool TlsKeyDerivation::expandLabel(const char* digest, std::span<const std::uint8_t> secret,
                                   std::string_view label, std::span<std::uint8_t> out) {
    // struct { uint16 length; opaque label<7..255> = "tls13 " + Label; opaque context<0..255>; }
    constexpr std::string_view kPrefix = "tls13 ";
    if (out.size() > 0xFFFF || kPrefix.size() + label.size() > 255) {
        return false;
    }
    std::array<std::uint8_t, 2 + 1 + 255 + 1> info{};
    std::size_t used = 0;
    info[used++] = static_cast<std::uint8_t>(out.size() >> 8);
    info[used++] = static_cast<std::uint8_t>(out.size());
    info[used++] = static_cast<std::uint8_t>(kPrefix.size() + label.size());
    for (std::string_view part : {kPrefix, label}) {
        for (char c : part) {
            info[used++] = static_cast<std::uint8_t>(c);
        }
    }
    info[used++] = 0;  // empty context
    int mode = EVP_KDF_HKDF_MODE_EXPAND_ONLY;
    const OSSL_PARAM params[] = {
        digestParam(digest),
        OSSL_PARAM_construct_int(OSSL_KDF_PARAM_MODE, &mode),
        octets(OSSL_KDF_PARAM_KEY, secret),
        octets(OSSL_KDF_PARAM_INFO, {info.data(), used}),
        OSSL_PARAM_construct_end(),
    };
    return derive(hkdf(), params, out);
}

bool TlsKeyDerivation::keyBlock(const char* digest, std::span<const std::uint8_t> masterSecret,
                                std::span<const std::uint8_t> serverRandom,
                                std::span<const std::uint8_t> clientRandom,
                                std::span<std::uint8_t> out) {
    constexpr std::string_view kLabel = "key expansion";
    // The PRF joins its seed parameters in the order given.
    const OSSL_PARAM params[] = {
        digestParam(digest),
        octets(OSSL_KDF_PARAM_SECRET, masterSecret),
        octets(OSSL_KDF_PARAM_SEED,
               {reinterpret_cast<const std::uint8_t*>(kLabel.data()), kLabel.size()}),
        octets(OSSL_KDF_PARAM_SEED, serverRandom),
        octets(OSSL_KDF_PARAM_SEED, clientRandom),
        OSSL_PARAM_construct_end(),
    };
    return derive(tls1Prf(), params, out);
}

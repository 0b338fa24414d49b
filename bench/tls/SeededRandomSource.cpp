// RAND_METHOD is deprecated, but it is the one hook that reaches every draw libssl and the
// default provider make; a provider of our own would take far more code for a benchmark.
#define OPENSSL_SUPPRESS_DEPRECATED

#include "SeededRandomSource.h"

#include <openssl/evp.h>
#include <openssl/rand.h>

#include <algorithm>
#include <climits>
#include <cstring>

namespace {

SeededRandomSource* installed = nullptr;

int drawBytes(unsigned char* out, int count) {
    if (installed == nullptr || count < 0) {
        return 0;
    }
    installed->fill(out, static_cast<std::size_t>(count));
    return 1;
}

int ignoreSeed(const void*, int) {
    return 1;
}

int ignoreEntropy(const void*, int, double) {
    return 1;
}

void nothingToClean() {}

int alwaysSeeded() {
    return 1;
}

const RAND_METHOD kSeededMethod = {ignoreSeed,    drawBytes, nothingToClean,
                                   ignoreEntropy, drawBytes, alwaysSeeded};

}  // namespace

SeededRandomSource::SeededRandomSource(std::uint64_t seed) : keystream_(EVP_CIPHER_CTX_new()) {
    unsigned char key[32] = {};
    unsigned char iv[16] = {};
    std::memcpy(key, &seed, sizeof seed);
    ok_ = installed == nullptr && keystream_ != nullptr &&
          EVP_EncryptInit_ex(keystream_, EVP_chacha20(), nullptr, key, iv) == 1;
    if (ok_) {
        installed = this;
        ok_ = RAND_set_rand_method(&kSeededMethod) == 1;
    }
}

SeededRandomSource::~SeededRandomSource() {
    if (installed == this) {
        RAND_set_rand_method(nullptr);
        installed = nullptr;
    }
    EVP_CIPHER_CTX_free(keystream_);
}

void SeededRandomSource::fill(std::uint8_t* out, std::size_t count) {
    std::memset(out, 0, count);
    while (count > 0) {
        const int piece = static_cast<int>(std::min<std::size_t>(count, INT_MAX / 2));
        int written = 0;
        EVP_EncryptUpdate(keystream_, out, &written, out, piece);
        out += piece;
        count -= static_cast<std::size_t>(piece);
    }
}

std::uint64_t SeededRandomSource::below(std::uint64_t n) {
    std::uint64_t value = 0;
    fill(reinterpret_cast<std::uint8_t*>(&value), sizeof value);
    return value % n;
}

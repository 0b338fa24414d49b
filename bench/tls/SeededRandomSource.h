#pragma once

#include <cstddef>
#include <cstdint>

struct evp_cipher_ctx_st;

// While alive, every random number OpenSSL draws in this process (client randoms, key shares,
// signature nonces) comes from a ChaCha20 keystream keyed by the seed, so that the same
// arguments give the same capture and key log byte for byte. The generator's own choices draw
// from it too. One at a time; single-threaded use only.
class SeededRandomSource {
  public:
    explicit SeededRandomSource(std::uint64_t seed);
    ~SeededRandomSource();
    SeededRandomSource(const SeededRandomSource&) = delete;
    SeededRandomSource& operator=(const SeededRandomSource&) = delete;

    // False when OpenSSL refused the keystream or the replacement.
    bool ok() const { return ok_; }

    void fill(std::uint8_t* out, std::size_t count);
    // A number in [0, n); n > 0.
    std::uint64_t below(std::uint64_t n);
    // A number in [low, high].
    std::uint64_t between(std::uint64_t low, std::uint64_t high) {
        return low + below(high - low + 1);
    }

  private:
    evp_cipher_ctx_st* keystream_ = nullptr;
    bool ok_ = false;
};

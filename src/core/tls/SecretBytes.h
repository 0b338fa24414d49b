#pragma once

#include <openssl/crypto.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

// Key material of fixed small size (a TLS secret or master secret, at most 48 bytes), wiped
// whenever it is dropped or overwritten. Never printed.
class SecretBytes {
  public:
    static constexpr std::size_t kCapacity = 48;

    SecretBytes() = default;
    // Bytes beyond the capacity are not kept: the caller checks the size first.
    explicit SecretBytes(std::span<const std::uint8_t> bytes) { assign(bytes); }
    SecretBytes(const SecretBytes& other) { assign(other.bytes()); }
    SecretBytes& operator=(const SecretBytes& other) {
        if (this != &other) {
            assign(other.bytes());
        }
        return *this;
    }
    ~SecretBytes() { clear(); }

    void assign(std::span<const std::uint8_t> bytes) {
        clear();
        size_ = std::min(bytes.size(), kCapacity);
        std::copy_n(bytes.begin(), size_, bytes_.begin());
    }
    void clear() {
        OPENSSL_cleanse(bytes_.data(), bytes_.size());
        size_ = 0;
    }

    bool empty() const { return size_ == 0; }
    std::size_t size() const { return size_; }
    std::span<const std::uint8_t> bytes() const { return {bytes_.data(), size_}; }
    std::span<std::uint8_t> writable(std::size_t size) {
        clear();
        size_ = std::min(size, kCapacity);
        return {bytes_.data(), size_};
    }

    bool operator==(const SecretBytes& other) const {
        return size_ == other.size_ &&
               std::equal(bytes().begin(), bytes().end(), other.bytes_.begin());
    }

  private:
    std::array<std::uint8_t, kCapacity> bytes_{};
    std::size_t size_ = 0;
};

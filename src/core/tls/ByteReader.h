#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

// Reads big-endian fields and length-prefixed vectors from untrusted bytes. Every read checks
// what is left first; a read that does not fit fails and leaves the reader where it was.
class ByteReader {
  public:
    explicit ByteReader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

    std::size_t remaining() const { return bytes_.size(); }
    bool empty() const { return bytes_.empty(); }

    bool u8(std::uint8_t& value) {
        std::uint64_t wide = 0;
        bool ok = number(1, wide);
        value = static_cast<std::uint8_t>(wide);
        return ok;
    }
    bool u16(std::uint16_t& value) {
        std::uint64_t wide = 0;
        bool ok = number(2, wide);
        value = static_cast<std::uint16_t>(wide);
        return ok;
    }
    bool u24(std::uint32_t& value) {
        std::uint64_t wide = 0;
        bool ok = number(3, wide);
        value = static_cast<std::uint32_t>(wide);
        return ok;
    }

    bool bytes(std::size_t count, std::span<const std::uint8_t>& out) {
        if (count > bytes_.size()) {
            return false;
        }
        out = bytes_.first(count);
        bytes_ = bytes_.subspan(count);
        return true;
    }
    bool skip(std::size_t count) {
        std::span<const std::uint8_t> ignored;
        return bytes(count, ignored);
    }

    // A vector with a `prefixBytes`-byte length in front (1, 2 or 3).
    bool vector(std::size_t prefixBytes, std::span<const std::uint8_t>& out) {
        ByteReader copy = *this;
        std::uint64_t length = 0;
        if (!copy.number(prefixBytes, length) || !copy.bytes(length, out)) {
            return false;
        }
        *this = copy;
        return true;
    }

  private:
    bool number(std::size_t width, std::uint64_t& value) {
        if (width > bytes_.size()) {
            return false;
        }
        value = 0;
        for (std::size_t i = 0; i < width; ++i) {
            value = value << 8 | bytes_[i];
        }
        bytes_ = bytes_.subspan(width);
        return true;
    }

    std::span<const std::uint8_t> bytes_;
};

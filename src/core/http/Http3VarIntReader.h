#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

// A QUIC variable-length integer (the two high bits of the first byte give its width: 1, 2, 4
// or 8 bytes) gathered from bytes that may arrive split across feeds.
class Http3VarIntReader {
  public:
    // Takes bytes from the front of `bytes` until the integer is whole; true once it is.
    bool take(std::span<const std::uint8_t>& bytes);
    std::uint64_t value() const { return value_; }
    void reset();

    // Reads one whole integer from the front of `bytes`; false, with `bytes` left as it was,
    // when it is cut short.
    static bool read(std::span<const std::uint8_t>& bytes, std::uint64_t& value);

  private:
    std::uint64_t value_ = 0;
    std::size_t have_ = 0;
    std::size_t width_ = 0;
};

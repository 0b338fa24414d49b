#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

// Finds the end of an HTTP/1.x head (the empty line) in bytes that arrive in any chunks. A
// head inside one chunk is handed out where it lies; only a head split across chunks is
// gathered, in one buffer that is reused.
class Http1HeadReader {
  public:
    static constexpr std::size_t kMaxHead = 64 * 1024;

    // Takes head bytes from the front of `bytes`. Returns the whole head, empty line included,
    // valid until the next call; nothing while the head is incomplete or over kMaxHead.
    std::optional<std::string_view> take(std::span<const std::uint8_t>& bytes);

    bool overflowed() const { return overflowed_; }

  private:
    void skipBlankLines(std::span<const std::uint8_t>& bytes);
    // Takes the `kept` bytes now held in the buffer from the front of `bytes`.
    std::nullopt_t waitForMore(std::span<const std::uint8_t>& bytes, std::size_t kept);

    std::string buffer_;
    bool handedOut_ = false;
    bool overflowed_ = false;
};

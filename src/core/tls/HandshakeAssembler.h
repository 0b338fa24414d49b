#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

// One direction's handshake messages put together from the records that carry them (a
// ClientHello with large key shares, a certificate chain, may span several).
class HandshakeAssembler {
  public:
    static constexpr std::size_t kMaxMessage = 256 * 1024;

    struct Message {
        std::uint8_t type = 0;
        std::span<const std::uint8_t> body;  // valid until the next call
    };

    enum class Next { Message, NeedMore, TooLarge };

    void add(std::span<const std::uint8_t> bytes) {
        buffer_.insert(buffer_.end(), bytes.begin(), bytes.end());
    }
    Next next(Message& message);
    // A message has begun and waits for the rest.
    bool holdsBytes() const { return buffer_.size() > start_; }
    void clear();

  private:
    std::vector<std::uint8_t> buffer_;
    std::size_t start_ = 0;
};

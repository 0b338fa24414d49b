#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// The framing of the pipes between Quorvex and the programs it starts (the capture helper, the
// recorder): a message is a type byte, a little-endian 4-byte payload length, then the payload.
// Takes the bytes in pieces of any size and gives back whole messages; a length over what the
// type allows makes the stream malformed for good. At most one message and one read are held.
class PipeFrames {
  public:
    static constexpr std::size_t kHeaderSize = 5;

    struct Frame {
        std::uint8_t type = 0;
        const std::uint8_t* payload = nullptr;  // valid until the next append()
        std::size_t length = 0;
    };
    enum class Status { kNeedMore, kFrame, kMalformed };

    // The little-endian number of `bytes` bytes at `p`.
    static std::uint64_t number(const std::uint8_t* p, int bytes) {
        std::uint64_t value = 0;
        for (int i = bytes - 1; i >= 0; --i) {
            value = (value << 8) | p[i];
        }
        return value;
    }

    void append(const std::uint8_t* data, std::size_t length) {
        if (malformed_) {
            return;
        }
        // Consumed bytes go before new ones arrive.
        if (start_ > 0) {
            buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(start_));
            start_ = 0;
        }
        buffer_.insert(buffer_.end(), data, data + length);
    }

    // The next whole message into `frame`; `maxPayload(type)` gives the longest payload a type
    // may have, negative for a type that does not exist.
    template <typename MaxPayload>
    Status next(MaxPayload maxPayload, Frame& frame) {
        if (malformed_) {
            return Status::kMalformed;
        }
        const std::size_t available = buffer_.size() - start_;
        if (available < kHeaderSize) {
            return Status::kNeedMore;
        }
        const std::uint8_t* header = buffer_.data() + start_;
        const std::uint64_t length = number(header + 1, 4);
        const long long allowed = maxPayload(header[0]);
        if (allowed < 0 || length > static_cast<std::uint64_t>(allowed)) {
            malformed_ = true;
            return Status::kMalformed;
        }
        if (available - kHeaderSize < length) {
            return Status::kNeedMore;
        }
        frame = {header[0], header + kHeaderSize, static_cast<std::size_t>(length)};
        start_ += kHeaderSize + length;
        return Status::kFrame;
    }

    // The next whole message handed to `decode(type, payload, length)`, for a reader whose
    // Result has kNeedMore and kMalformed; a message it finds malformed ends the stream for good.
    template <typename Result, typename MaxPayload, typename Decode>
    Result nextDecoded(MaxPayload maxPayload, Decode decode) {
        Frame frame;
        switch (next(maxPayload, frame)) {
            case Status::kNeedMore:
                return Result::kNeedMore;
            case Status::kMalformed:
                return Result::kMalformed;
            case Status::kFrame:
                break;
        }
        const Result result = decode(frame.type, frame.payload, frame.length);
        if (result == Result::kMalformed) {
            markMalformed();
        }
        return result;
    }

    void markMalformed() { malformed_ = true; }
    bool malformed() const { return malformed_; }
    // Bytes received but not yet a whole message.
    std::size_t pending() const { return buffer_.size() - start_; }

  private:
    std::vector<std::uint8_t> buffer_;
    std::size_t start_ = 0;
    bool malformed_ = false;
};

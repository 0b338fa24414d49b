#include "core/tls/HandshakeAssembler.h"

namespace {

constexpr std::size_t kHeaderLength = 4;

}  // namespace

HandshakeAssembler::Next HandshakeAssembler::next(Message& message) {
    std::size_t available = buffer_.size() - start_;
    const std::uint8_t* at = buffer_.data() + start_;
    if (available >= kHeaderLength) {
        std::size_t length = std::size_t{at[1]} << 16 | std::size_t{at[2]} << 8 | at[3];
        if (length > kMaxMessage) {
            return Next::TooLarge;
        }
        if (available >= kHeaderLength + length) {
            message.type = at[0];
            message.body = {at + kHeaderLength, length};
            start_ += kHeaderLength + length;
            return Next::Message;
        }
    }
    // The messages handed out are done with: keep only the part still waiting.
    buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(start_));
    start_ = 0;
    return Next::NeedMore;
}

void HandshakeAssembler::clear() {
    buffer_.clear();
    start_ = 0;
}

#include "core/http/Http3FrameReader.h"

#include <algorithm>

namespace {

// A buffer that once held a large frame is given back rather than kept for small ones.
constexpr std::size_t kKeptCapacity = 4 * 1024;

std::optional<std::size_t> limitOf(std::uint64_t type) {
    if (type == Http3FrameReader::kHeaders) {
        return Http3FrameReader::kHeadersLimit;
    }
    if (type == Http3FrameReader::kSettings) {
        return Http3FrameReader::kSettingsLimit;
    }
    return std::nullopt;
}

}  // namespace

std::optional<Http3FrameReader::Frame> Http3FrameReader::next(
    std::span<const std::uint8_t>& bytes) {
    releaseDelivered();
    while (!failed()) {
        switch (step_) {
            case Step::Type:
                if (!type_.take(bytes)) {
                    return std::nullopt;
                }
                step_ = Step::Length;
                break;
            case Step::Length:
                if (!length_.take(bytes)) {
                    return std::nullopt;
                }
                startPayload();
                break;
            case Step::Keep:
                return keep(bytes);
            case Step::Skip:
                skip(bytes);
                if (step_ == Step::Skip) {
                    return std::nullopt;
                }
                break;
        }
    }
    return std::nullopt;
}

void Http3FrameReader::startPayload() {
    left_ = length_.value();
    const std::optional<std::size_t> limit = limitOf(type_.value());
    if (!limit) {
        step_ = Step::Skip;
        return;
    }
    if (left_ > *limit) {
        failure_ = std::string("HTTP/3 ") + (type_.value() == kHeaders ? "HEADERS" : "SETTINGS") +
                   " frame of " + std::to_string(left_) + " bytes over the limit of " +
                   std::to_string(*limit);
        return;
    }
    step_ = Step::Keep;
}

std::optional<Http3FrameReader::Frame> Http3FrameReader::keep(
    std::span<const std::uint8_t>& bytes) {
    const std::uint64_t type = type_.value();
    if (payload_.empty() && bytes.size() >= left_) {
        // The whole payload is at hand: handed out where it lies, without a copy.
        const Frame frame{type, bytes.first(static_cast<std::size_t>(left_))};
        bytes = bytes.subspan(static_cast<std::size_t>(left_));
        nextFrame();
        return frame;
    }
    const std::size_t taken =
        static_cast<std::size_t>(std::min<std::uint64_t>(left_, bytes.size()));
    payload_.insert(payload_.end(), bytes.begin(), bytes.begin() + taken);
    bytes = bytes.subspan(taken);
    left_ -= taken;
    if (left_ != 0) {
        return std::nullopt;
    }
    delivered_ = true;
    nextFrame();
    return Frame{type, payload_};
}

void Http3FrameReader::skip(std::span<const std::uint8_t>& bytes) {
    const std::size_t skipped =
        static_cast<std::size_t>(std::min<std::uint64_t>(left_, bytes.size()));
    bytes = bytes.subspan(skipped);
    left_ -= skipped;
    if (left_ == 0) {
        nextFrame();
    }
}

void Http3FrameReader::nextFrame() {
    step_ = Step::Type;
    type_.reset();
    length_.reset();
}

void Http3FrameReader::releaseDelivered() {
    if (!delivered_) {
        return;
    }
    delivered_ = false;
    payload_.clear();
    if (payload_.capacity() > kKeptCapacity) {
        payload_ = {};
    }
}

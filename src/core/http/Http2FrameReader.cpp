#include "core/http/Http2FrameReader.h"

#include <algorithm>

namespace {

constexpr std::uint8_t kHeaders = 0x1;
constexpr std::uint8_t kRstStream = 0x3;
constexpr std::uint8_t kSettings = 0x4;
constexpr std::uint8_t kPushPromise = 0x5;
constexpr std::uint8_t kContinuation = 0x9;

constexpr std::uint8_t kAck = 0x1;
constexpr std::uint8_t kEndHeaders = 0x4;
constexpr std::uint8_t kPadded = 0x8;
constexpr std::uint8_t kPriority = 0x20;

constexpr std::uint16_t kSettingsHeaderTableSize = 0x1;
constexpr std::uint16_t kSettingsMaxFrameSize = 0x5;
constexpr std::size_t kSettingsEntrySize = 6;

std::uint32_t bigEndian(const std::uint8_t* bytes, std::size_t count) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < count; ++i) {
        value = (value << 8) | bytes[i];
    }
    return value;
}

std::uint32_t streamId(const std::uint8_t* bytes) {
    return bigEndian(bytes, 4) & 0x7FFFFFFFu;
}

// Copies bytes from the front of `bytes` until `have` reaches `wanted`; true once it has.
bool collect(std::span<const std::uint8_t>& bytes, std::uint8_t* into, std::size_t wanted,
             std::size_t& have) {
    const std::size_t taken = std::min(wanted - have, bytes.size());
    std::copy_n(bytes.begin(), taken, into + have);
    have += taken;
    bytes = bytes.subspan(taken);
    return have == wanted;
}

// Passes over up to `left` bytes; true once none are left.
bool skip(std::span<const std::uint8_t>& bytes, std::size_t& left) {
    const std::size_t taken = std::min(left, bytes.size());
    left -= taken;
    bytes = bytes.subspan(taken);
    return left == 0;
}

Http2Event event(Http2Event::Kind kind) {
    Http2Event result;
    result.kind = kind;
    return result;
}

}  // namespace

Http2Event Http2FrameReader::next(std::span<const std::uint8_t>& bytes) {
    if (!inflater_.usable()) {
        return fail("no memory for a header decoder");
    }
    for (;;) {
        Http2Event found;
        switch (step_) {
            case Step::FrameHeader:
                if (!collect(bytes, frameHeader_.data(), frameHeader_.size(), frameHeaderHave_)) {
                    return found;
                }
                frameHeaderHave_ = 0;
                found = startFrame();
                break;
            case Step::Prefix:
                if (!collect(bytes, fixed_.data(), fixedWanted_, fixedHave_)) {
                    return found;
                }
                found = startHeaderBlock();
                break;
            case Step::Fragment:
                if (fragmentLeft_ == 0) {
                    step_ = blockEnds_ ? Step::BlockEnd : Step::Padding;
                    break;
                }
                if (bytes.empty()) {
                    return found;
                }
                found = inflateFragment(bytes);
                break;
            case Step::BlockEnd:
                return finishBlock();
            case Step::Padding:
                if (!skip(bytes, paddingLeft_)) {
                    return found;
                }
                step_ = Step::FrameHeader;
                break;
            case Step::SettingsEntry:
                if (skipLeft_ != 0 && bytes.empty()) {
                    return found;
                }
                found = readSettingsEntry(bytes);
                break;
            case Step::Skip:
                if (!skip(bytes, skipLeft_)) {
                    return found;
                }
                step_ = Step::FrameHeader;
                break;
            case Step::Failed:
                return event(Http2Event::Kind::Failed);
        }
        if (found.kind != Http2Event::Kind::NeedBytes) {
            return found;
        }
    }
}

Http2Event Http2FrameReader::startFrame() {
    length_ = bigEndian(frameHeader_.data(), 3);
    type_ = frameHeader_[3];
    flags_ = frameHeader_[4];
    stream_ = streamId(frameHeader_.data() + 5);
    if (length_ > frameLimit_) {
        return fail("HTTP/2 frame of " + std::to_string(length_) + " bytes over the limit of " +
                    std::to_string(frameLimit_));
    }
    // A header block's frames follow each other with nothing between them.
    if (blockOpen_ && (type_ != kContinuation || stream_ != blockStream_)) {
        return fail("HTTP/2 header block interrupted before its end");
    }
    switch (type_) {
        case kHeaders:
        case kPushPromise:
            if (stream_ == 0) {
                return fail("HTTP/2 header block on stream 0");
            }
            fixedWanted_ = (hasFlag(kPadded) ? 1 : 0) +
                           (type_ == kPushPromise ? 4 : (hasFlag(kPriority) ? 5 : 0));
            fixedHave_ = 0;
            if (length_ < fixedWanted_) {
                return fail("HTTP/2 frame shorter than its padding and priority fields");
            }
            step_ = Step::Prefix;
            return {};
        case kContinuation:
            if (!blockOpen_) {
                return fail("HTTP/2 CONTINUATION without a header block");
            }
            blockEnds_ = hasFlag(kEndHeaders);
            return beginFragment(length_, 0);
        case kSettings:
            return startSettings();
        case kRstStream: {
            skipLeft_ = length_;
            step_ = Step::Skip;
            Http2Event reset = event(Http2Event::Kind::StreamReset);
            reset.stream = stream_;
            return reset;
        }
        default:
            skipLeft_ = length_;
            step_ = Step::Skip;
            return {};
    }
}

Http2Event Http2FrameReader::startHeaderBlock() {
    const std::size_t padding = hasFlag(kPadded) ? fixed_[0] : 0;
    const std::size_t rest = length_ - fixedWanted_;
    if (padding > rest) {
        return fail("HTTP/2 padding longer than its frame");
    }
    Http2Event start = event(Http2Event::Kind::BlockStart);
    start.promise = type_ == kPushPromise;
    start.stream = start.promise ? streamId(fixed_.data() + (hasFlag(kPadded) ? 1 : 0)) : stream_;
    if (start.stream == 0) {
        return fail("HTTP/2 PUSH_PROMISE of stream 0");
    }
    blockOpen_ = true;
    blockEnds_ = hasFlag(kEndHeaders);
    blockStream_ = stream_;
    blockBytes_ = 0;
    const Http2Event begun = beginFragment(rest - padding, padding);
    return begun.kind == Http2Event::Kind::Failed ? begun : start;
}

Http2Event Http2FrameReader::startSettings() {
    if (stream_ != 0) {
        return fail("HTTP/2 SETTINGS on a stream");
    }
    if (hasFlag(kAck)) {
        if (length_ != 0) {
            return fail("HTTP/2 SETTINGS acknowledgement with a payload");
        }
        return event(Http2Event::Kind::SettingsAck);
    }
    if (length_ % kSettingsEntrySize != 0) {
        return fail("HTTP/2 SETTINGS of a length that is not a number of entries");
    }
    settings_ = {};
    skipLeft_ = length_;
    fixedWanted_ = kSettingsEntrySize;
    fixedHave_ = 0;
    step_ = Step::SettingsEntry;
    return {};
}

Http2Event Http2FrameReader::beginFragment(std::size_t length, std::size_t padding) {
    if (blockBytes_ + length > kHeaderBlockLimit) {
        return fail("HTTP/2 header block longer than " + std::to_string(kHeaderBlockLimit) +
                    " bytes");
    }
    blockBytes_ += length;
    fragmentLeft_ = length;
    paddingLeft_ = padding;
    step_ = Step::Fragment;
    return {};
}

Http2Event Http2FrameReader::inflateFragment(std::span<const std::uint8_t>& bytes) {
    const std::size_t available = std::min(fragmentLeft_, bytes.size());
    const HpackInflater::Step step = inflater_.inflate(bytes.first(available), false);
    if (!step.ok || (step.consumed == 0 && !step.emitted)) {
        return fail("HTTP/2 header block does not decompress");
    }
    bytes = bytes.subspan(step.consumed);
    fragmentLeft_ -= step.consumed;
    if (!step.emitted) {
        return {};
    }
    Http2Event field = event(Http2Event::Kind::Field);
    field.name = step.name;
    field.value = step.value;
    return field;
}

Http2Event Http2FrameReader::finishBlock() {
    const HpackInflater::Step step = inflater_.inflate({}, true);
    if (!step.ok || (!step.emitted && !step.finished)) {
        return fail("HTTP/2 header block does not decompress");
    }
    if (step.emitted) {
        Http2Event field = event(Http2Event::Kind::Field);
        field.name = step.name;
        field.value = step.value;
        return field;
    }
    inflater_.endBlock();
    blockOpen_ = false;
    step_ = Step::Padding;
    return event(Http2Event::Kind::BlockEnd);
}

Http2Event Http2FrameReader::readSettingsEntry(std::span<const std::uint8_t>& bytes) {
    if (skipLeft_ == 0) {
        step_ = Step::FrameHeader;
        Http2Event announced = event(Http2Event::Kind::Settings);
        announced.settings = settings_;
        return announced;
    }
    if (!collect(bytes, fixed_.data(), fixedWanted_, fixedHave_)) {
        return {};
    }
    fixedHave_ = 0;
    skipLeft_ -= kSettingsEntrySize;
    const auto id = static_cast<std::uint16_t>(bigEndian(fixed_.data(), 2));
    const std::uint32_t value = bigEndian(fixed_.data() + 2, 4);
    if (id == kSettingsHeaderTableSize) {
        settings_.headerTableSize = value;
    } else if (id == kSettingsMaxFrameSize) {
        if (value < kDefaultFrameLimit || value > kLargestFrameLimit) {
            return fail("HTTP/2 SETTINGS_MAX_FRAME_SIZE out of range");
        }
        settings_.maxFrameSize = value;
    }
    return {};
}

void Http2FrameReader::allowFrameSize(std::uint32_t size) {
    frameLimit_ = std::max(frameLimit_, std::min(size, kLargestFrameLimit));
}

bool Http2FrameReader::changeTableSize(std::uint32_t size) {
    return !blockOpen_ && inflater_.changeTableSize(std::min<std::size_t>(size, kTableSizeLimit));
}

Http2Event Http2FrameReader::fail(std::string reason) {
    if (step_ != Step::Failed) {
        failure_ = std::move(reason);
        step_ = Step::Failed;
    }
    return event(Http2Event::Kind::Failed);
}

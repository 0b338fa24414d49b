#include "core/http/Http1HeadReader.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr std::size_t kNotFound = static_cast<std::size_t>(-1);

// The offset just past the line end that closes the head, or kNotFound. Lines may end in
// CRLF or a bare LF.
std::size_t findHeadEnd(std::string_view text, std::size_t from) {
    while (from < text.size()) {
        const void* found = std::memchr(text.data() + from, '\n', text.size() - from);
        if (found == nullptr) {
            return kNotFound;
        }
        const std::size_t lineEnd = static_cast<const char*>(found) - text.data();
        const std::string_view after = text.substr(lineEnd + 1);
        if (after.starts_with('\n')) {
            return lineEnd + 2;
        }
        if (after.starts_with("\r\n")) {
            return lineEnd + 3;
        }
        from = lineEnd + 1;
    }
    return kNotFound;
}

std::string_view asText(std::span<const std::uint8_t> bytes) {
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

}  // namespace

// Empty lines ahead of a head are tolerated: some clients end a body with an extra CRLF.
void Http1HeadReader::skipBlankLines(std::span<const std::uint8_t>& bytes) {
    while (buffer_.empty() && !bytes.empty() && (bytes.front() == '\r' || bytes.front() == '\n')) {
        bytes = bytes.subspan(1);
    }
}

std::optional<std::string_view> Http1HeadReader::take(std::span<const std::uint8_t>& bytes) {
    if (handedOut_) {
        buffer_.clear();
        handedOut_ = false;
    }
    skipBlankLines(bytes);
    if (bytes.empty() || overflowed_) {
        return std::nullopt;
    }
    const std::size_t held = buffer_.size();
    const std::string_view input = asText(bytes).substr(0, kMaxHead - held);
    if (held == 0) {
        const std::size_t end = findHeadEnd(input, 0);
        if (end != kNotFound) {
            bytes = bytes.subspan(end);
            return input.substr(0, end);
        }
        buffer_.append(input);
        return waitForMore(bytes, input.size());
    }
    buffer_.append(input);
    // A line end may have been cut just before the new bytes.
    const std::size_t end = findHeadEnd(buffer_, held >= 2 ? held - 2 : 0);
    if (end == kNotFound) {
        return waitForMore(bytes, input.size());
    }
    bytes = bytes.subspan(end - held);
    buffer_.resize(end);
    handedOut_ = true;
    return std::string_view(buffer_);
}

std::nullopt_t Http1HeadReader::waitForMore(std::span<const std::uint8_t>& bytes,
                                            std::size_t kept) {
    bytes = bytes.subspan(kept);
    overflowed_ = buffer_.size() == kMaxHead;
    return std::nullopt;
}

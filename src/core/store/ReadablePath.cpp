#include "core/store/ReadablePath.h"

#include <vector>

#include "core/detect/HexDigit.h"
#include "core/store/Utf8Sequence.h"

namespace {

bool IsEscape(std::string_view text, std::size_t at) {
    return at + 2 < text.size() && text[at] == '%' && HexDigitValue(text[at + 1]) >= 0 &&
           HexDigitValue(text[at + 2]) >= 0;
}

// C0, DEL, C1, the soft hyphen, and the marks that reorder, join or hide text.
bool ActsOnText(char32_t c) {
    return c < 0x20 || (c >= 0x7F && c < 0xA0) || c == 0xAD || (c >= 0x200B && c <= 0x200F) ||
           c == 0x2028 || c == 0x2029 || (c >= 0x202A && c <= 0x202E) ||
           (c >= 0x2060 && c <= 0x2069) || c == 0xFEFF;
}

// The code point of the valid sequence of `length` bytes at `bytes`.
char32_t CodePoint(const char* bytes, std::size_t length) {
    auto byte = [&](std::size_t k) {
        return static_cast<char32_t>(static_cast<unsigned char>(bytes[k]));
    };
    if (length == 1) {
        return byte(0);
    }
    static constexpr char32_t kLeadMask[] = {0, 0, 0x1F, 0x0F, 0x07};
    char32_t c = byte(0) & kLeadMask[length];
    for (std::size_t k = 1; k < length; ++k) {
        c = (c << 6) | (byte(k) & 0x3F);
    }
    return c;
}

void AppendEscape(std::string& out, unsigned char byte) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    out += '%';
    out += kHex[byte >> 4];
    out += kHex[byte & 15];
}

}  // namespace

bool ReadablePath::changes(std::string_view path) {
    for (char c : path) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '%' || byte < 0x20 || byte >= 0x7F) {
            return true;
        }
    }
    return false;
}

std::string ReadablePath::of(std::string_view path) {
    if (!changes(path)) {
        return std::string(path);
    }
    // The bytes the path stands for, each with where its spelling starts (an escape is three
    // characters there, any other byte one).
    std::string bytes;
    std::vector<std::size_t> spelling;
    bytes.reserve(path.size());
    spelling.reserve(path.size());
    for (std::size_t at = 0; at < path.size();) {
        spelling.push_back(at);
        if (IsEscape(path, at)) {
            bytes +=
                static_cast<char>(HexDigitValue(path[at + 1]) * 16 + HexDigitValue(path[at + 2]));
            at += 3;
        } else {
            bytes += path[at];
            at += 1;
        }
    }
    std::string out;
    out.reserve(path.size());
    for (std::size_t i = 0; i < bytes.size();) {
        const std::size_t length = utf8SequenceLength(bytes, i);
        if (length > 0 && !ActsOnText(CodePoint(bytes.data() + i, length))) {
            out.append(bytes, i, length);
            i += length;
            continue;
        }
        // Kept as captured when it was an escape; a raw byte that cannot be shown gets one.
        if (IsEscape(path, spelling[i])) {
            out.append(path, spelling[i], 3);
        } else {
            AppendEscape(out, static_cast<unsigned char>(bytes[i]));
        }
        ++i;
    }
    return out;
}

#include "core/detect/Cp932Text.h"

#include <bit>
#include <cstdint>
#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace {

constexpr std::uint64_t kHighBits = 0x8080808080808080ull;

// Lead bytes are all above 0x80: eight bytes without a high bit are eight whole characters.
bool eightSingleBytes(const char* p) {
    std::uint64_t word;
    std::memcpy(&word, p, 8);
    return (word & kHighBits) == 0;
}

bool allSingleBytes(std::string_view text) {
    std::size_t i = 0;
    for (; i + 8 <= text.size(); i += 8) {
        if (!eightSingleBytes(text.data() + i)) {
            return false;
        }
    }
    for (; i < text.size(); ++i) {
        if (static_cast<unsigned char>(text[i]) >= 0x80) {
            return false;
        }
    }
    return true;
}

// Whether one of the eight bytes at `p` is `a` or `b`.
bool eightHoldEither(const char* p, char a, char b) {
    constexpr std::uint64_t kOnes = 0x0101010101010101ull;
    std::uint64_t word;
    std::memcpy(&word, p, 8);
    auto hasZero = [](std::uint64_t y) { return ((y - kOnes) & ~y & kHighBits) != 0; };
    return hasZero(word ^ (kOnes * static_cast<unsigned char>(a))) ||
           hasZero(word ^ (kOnes * static_cast<unsigned char>(b)));
}

// The needle's bytes after the first are at `p + 1`. Needles are short: a loop beats a call.
bool restMatches(const char* p, std::string_view needle) {
    for (std::size_t k = 1; k < needle.size(); ++k) {
        if (p[k] != needle[k]) {
            return false;
        }
    }
    return true;
}

}  // namespace

bool Cp932Text::singleBytesOnly(std::string_view text) {
    std::size_t i = 0;
#ifdef __SSE2__
    // The high bit of each byte is what movemask gathers.
    for (; i + 16 <= text.size(); i += 16) {
        if (_mm_movemask_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + i))) !=
            0) {
            return false;
        }
    }
#endif
    return allSingleBytes(text.substr(i));
}

std::string_view Cp932Text::upToZero(const char* bytes, std::size_t size, bool& singleBytes) {
    std::size_t i = 0;
    unsigned high = 0;  // whether a byte with its high bit was passed
#ifdef __SSE2__
    for (; i + 16 <= size; i += 16) {
        const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + i));
        const auto zeros =
            static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(chunk, _mm_setzero_si128())));
        const auto highs = static_cast<unsigned>(_mm_movemask_epi8(chunk));
        if (zeros != 0) {
            const unsigned at = static_cast<unsigned>(std::countr_zero(zeros));
            singleBytes = high == 0 && (highs & ((1u << at) - 1)) == 0;
            return std::string_view(bytes, i + at);
        }
        high |= highs;
    }
#endif
    for (; i < size && bytes[i] != '\0'; ++i) {
        high |= static_cast<unsigned char>(bytes[i]) & 0x80u;
    }
    singleBytes = high == 0;
    return std::string_view(bytes, i);
}

bool Cp932Text::BoundaryCursor::walkTo(std::size_t position) {
    while (cursor_ < position) {
        if (cursor_ + 8 <= position && eightSingleBytes(text_.data() + cursor_)) {
            cursor_ += 8;
            continue;
        }
        cursor_ += isLeadByte(static_cast<unsigned char>(text_[cursor_])) ? 2 : 1;
    }
    return cursor_ == position;
}

std::size_t Cp932Text::find(std::string_view text, std::string_view needle, std::size_t from,
                            bool singleBytes) {
    if (from > text.size()) {
        return npos;
    }
    if (needle.empty()) {
        return from;
    }
    // Needles here are a few bytes long: finding their first byte and comparing the rest
    // beats a general substring search.
    BoundaryCursor boundary(text, from, singleBytes);
    const char* data = text.data();
    const char* end = data + text.size();
    const char* p = data + from;
    while (static_cast<std::size_t>(end - p) >= needle.size()) {
        p = static_cast<const char*>(
            std::memchr(p, needle[0], static_cast<std::size_t>(end - p) - needle.size() + 1));
        if (p == nullptr) {
            return npos;
        }
        std::size_t found = static_cast<std::size_t>(p - data);
        if (restMatches(p, needle) && boundary.isBoundary(found)) {
            return found;
        }
        ++p;
    }
    return npos;
}

std::size_t Cp932Text::findLast(std::string_view text, char c) {
    if (allSingleBytes(text)) {
        return text.rfind(c);
    }
    std::size_t last = npos;
    std::size_t i = 0;
    while (i < text.size()) {
        auto byte = static_cast<unsigned char>(text[i]);
        if (text[i] == c) {
            last = i;
        }
        i += isLeadByte(byte) ? 2 : 1;
    }
    return last;
}

std::size_t Cp932Text::findLastOf(std::string_view text, char a, char b, bool singleBytes) {
    if (singleBytes || allSingleBytes(text)) {
        // Words without either byte are passed over eight at a time, then a plain loop: the
        // library's find_last_of calls memchr on the set for every byte.
        std::size_t i = text.size();
        while (i >= 8 && !eightHoldEither(text.data() + i - 8, a, b)) {
            i -= 8;
        }
        while (i-- > 0) {
            if (text[i] == a || text[i] == b) {
                return i;
            }
        }
        return npos;
    }
    std::size_t last = npos;
    std::size_t i = 0;
    while (i < text.size()) {
        if (text[i] == a || text[i] == b) {
            last = i;
        }
        i += isLeadByte(static_cast<unsigned char>(text[i])) ? 2 : 1;
    }
    return last;
}

void Cp932Text::toUpper(char* text, std::size_t length) {
    std::size_t i = 0;
    while (i < length) {
        auto byte = static_cast<unsigned char>(text[i]);
        if (isLeadByte(byte)) {
            i += 2;
            continue;
        }
        if (byte >= 'a' && byte <= 'z') {
            text[i] = static_cast<char>(byte - 'a' + 'A');
        }
        ++i;
    }
}

#include "core/store/JsonString.h"

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

#include "core/store/Utf8Sequence.h"

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace {

// A byte that no JSON string may carry as it is goes out as \u00XX.
char* writeByteEscape(char* out, unsigned char byte) {
    constexpr char kHex[] = "0123456789ABCDEF";
    std::memcpy(out, "\\u00", 4);
    out[4] = kHex[byte >> 4];
    out[5] = kHex[byte & 0xF];
    return out + 6;
}

char* writeTwo(char* out, char backslashed) {
    out[0] = '\\';
    out[1] = backslashed;
    return out + 2;
}

// Printable ASCII other than '"' and '\\' goes out as it is.
constexpr auto kPlain = [] {
    std::array<bool, 256> plain{};
    for (int c = 0x20; c < 0x7F; ++c) {
        plain[static_cast<std::size_t>(c)] = c != '"' && c != '\\';
    }
    return plain;
}();

bool isPlain(char c) {
    return kPlain[static_cast<unsigned char>(c)];
}

// Eight plain characters at `p`: no byte below 0x20 or above 0x7E, no '"' and no '\\'.
bool eightPlain(const char* p) {
    constexpr std::uint64_t kOnes = 0x0101010101010101ull;
    constexpr std::uint64_t kHigh = 0x8080808080808080ull;
    std::uint64_t x;
    std::memcpy(&x, p, 8);
    auto hasZero = [&](std::uint64_t y) { return ((y - kOnes) & ~y & kHigh) != 0; };
    bool below = ((x - kOnes * 0x20) & ~x & kHigh) != 0;
    bool above = (((x + kOnes) | x) & kHigh) != 0;
    return !below && !above && !hasZero(x ^ (kOnes * '"')) && !hasZero(x ^ (kOnes * '\\'));
}

#ifdef __SSE2__
// Bit i set when byte i of the sixteen at `p` is plain. Signed compares: bytes from 0x80 on
// count as below 0x20.
unsigned plainMask16(const char* p) {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    __m128i printable = _mm_and_si128(_mm_cmpgt_epi8(v, _mm_set1_epi8(0x1F)),
                                      _mm_cmplt_epi8(v, _mm_set1_epi8(0x7F)));
    __m128i special =
        _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('"')), _mm_cmpeq_epi8(v, _mm_set1_epi8('\\')));
    return static_cast<unsigned>(_mm_movemask_epi8(_mm_andnot_si128(special, printable)));
}
#endif

// One ASCII byte that is not plain.
char* writeEscaped(char* out, char c) {
    switch (c) {
        case '"':
            return writeTwo(out, '"');
        case '\\':
            return writeTwo(out, '\\');
        case '\n':
            return writeTwo(out, 'n');
        case '\r':
            return writeTwo(out, 'r');
        case '\t':
            return writeTwo(out, 't');
        default:
            return writeByteEscape(out, static_cast<unsigned char>(c));
    }
}

}  // namespace

char* JsonString::write(char* out, std::string_view bytes) {
    *out++ = '"';
    const char* const begin = bytes.data();
    const char* const end = begin + bytes.size();
    const char* p = begin;
    while (p != end) {
#ifdef __SSE2__
        // Sixteen bytes go out at once; only the plain run at their start counts.
        while (end - p >= 16) {
            unsigned run = static_cast<unsigned>(std::countr_one(plainMask16(p)));
            std::memcpy(out, p, 16);
            out += run;
            p += run;
            if (run < 16) {
                break;
            }
        }
        if (p != end && end - p < 16 && end - begin >= 16 && plainMask16(end - 16) == 0xFFFF) {
            // As below with eight bytes: the last sixteen are plain and go out in one piece.
            std::size_t rest = static_cast<std::size_t>(end - p);
            std::memcpy(out - (16 - rest), end - 16, 16);
            out += rest;
            break;
        }
#endif
        // Runs of plain characters go out eight at a time, then one by one.
        while (end - p >= 8 && eightPlain(p)) {
            std::memcpy(out, p, 8);
            out += 8;
            p += 8;
        }
        if (p != end && end - p < 8 && end - begin >= 8 && eightPlain(end - 8)) {
            // The last eight bytes are plain, and those before `p` among them went out as they
            // are just before `out`: all of them go out again, in one piece.
            std::size_t rest = static_cast<std::size_t>(end - p);
            std::memcpy(out - (8 - rest), end - 8, 8);
            out += rest;
            break;
        }
        while (p != end && isPlain(*p)) {
            *out++ = *p++;
        }
        if (p == end) {
            break;
        }
        std::size_t length = utf8SequenceLength(bytes, static_cast<std::size_t>(p - begin));
        if (length == 0) {
            out = writeByteEscape(out, static_cast<unsigned char>(*p++));
        } else if (length > 1) {
            std::memcpy(out, p, length);
            out += length;
            p += length;
        } else {
            out = writeEscaped(out, *p++);
        }
    }
    *out++ = '"';
    return out;
}

void JsonString::append(std::string& out, std::string_view bytes) {
    std::size_t start = out.size();
    out.resize(start + maxLength(bytes.size()));
    char* end = write(out.data() + start, bytes);
    out.resize(static_cast<std::size_t>(end - out.data()));
}

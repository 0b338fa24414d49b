#include "core/store/JsonString.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "core/store/Utf8Sequence.h"

namespace {

void appendUnicodeEscape(std::string& out, unsigned value) {
    char buffer[8];
    std::snprintf(buffer, sizeof buffer, "\\u%04X", value);
    out += buffer;
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

}  // namespace

void JsonString::append(std::string& out, std::string_view bytes) {
    out += '"';
    std::size_t i = 0;
    while (i < bytes.size()) {
        // Runs of plain characters go out in one piece.
        std::size_t run = i;
        while (run + 8 <= bytes.size() && eightPlain(bytes.data() + run)) {
            run += 8;
        }
        while (run < bytes.size() && isPlain(bytes[run])) {
            ++run;
        }
        if (run > i) {
            out.append(bytes.data() + i, run - i);
            i = run;
            continue;
        }
        std::size_t length = utf8SequenceLength(bytes, i);
        if (length == 0) {
            appendUnicodeEscape(out, static_cast<unsigned char>(bytes[i]));
            ++i;
            continue;
        }
        if (length > 1) {
            out.append(bytes.substr(i, length));
            i += length;
            continue;
        }
        char c = bytes[i++];
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
                    appendUnicodeEscape(out, static_cast<unsigned char>(c));
                } else {
                    out += c;
                }
        }
    }
    out += '"';
}

#include "cli/TerminalText.h"

#include "core/store/Utf8Sequence.h"

namespace {

bool isPrintableAscii(unsigned char c) {
    return c >= 0x20 && c < 0x7F;
}

// U+0080-U+009F are encoded as C2 80 .. C2 9F.
bool isC1Control(std::string_view sequence) {
    return sequence.size() == 2 && static_cast<unsigned char>(sequence[0]) == 0xC2 &&
           static_cast<unsigned char>(sequence[1]) <= 0x9F;
}

void appendByteEscape(std::string& out, unsigned char c) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    out += "\\x";
    out += kHex[c >> 4];
    out += kHex[c & 0xF];
}

}  // namespace

void TerminalText::appendEscaped(std::string& out, std::string_view bytes) {
    std::size_t i = 0;
    while (i < bytes.size()) {
        std::size_t run = i;
        while (run < bytes.size() && isPrintableAscii(static_cast<unsigned char>(bytes[run]))) {
            ++run;
        }
        out.append(bytes.data() + i, run - i);
        i = run;
        if (i == bytes.size()) {
            break;
        }
        std::size_t length = utf8SequenceLength(bytes, i);
        std::string_view sequence = bytes.substr(i, length == 0 ? 1 : length);
        if (length > 1 && !isC1Control(sequence)) {
            out.append(sequence);
        } else {
            for (char c : sequence) {
                appendByteEscape(out, static_cast<unsigned char>(c));
            }
        }
        i += sequence.size();
    }
}

std::string TerminalText::escaped(std::string_view bytes) {
    std::string out;
    appendEscaped(out, bytes);
    return out;
}

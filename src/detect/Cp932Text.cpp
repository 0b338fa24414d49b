#include "detect/Cp932Text.h"

#include <cstring>

bool Cp932Text::BoundaryCursor::isBoundary(std::size_t position) {
    while (cursor_ < position) {
        cursor_ += isLeadByte(static_cast<unsigned char>(text_[cursor_])) ? 2 : 1;
    }
    return cursor_ == position;
}

std::size_t Cp932Text::find(std::string_view text, std::string_view needle, std::size_t from) {
    if (from > text.size()) {
        return npos;
    }
    if (needle.empty()) {
        return from;
    }
    BoundaryCursor boundary(text, from);
    std::size_t position = from;
    while (position + needle.size() <= text.size()) {
        const void* hit =
            memmem(text.data() + position, text.size() - position, needle.data(), needle.size());
        if (hit == nullptr) {
            return npos;
        }
        std::size_t found = static_cast<std::size_t>(static_cast<const char*>(hit) - text.data());
        if (boundary.isBoundary(found)) {
            return found;
        }
        position = found + 1;
    }
    return npos;
}

std::size_t Cp932Text::findLast(std::string_view text, char c) {
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

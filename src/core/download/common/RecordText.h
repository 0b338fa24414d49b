#pragma once

#include <cstddef>
#include <string_view>

// Copies `text` into a fixed-width, zero-terminated field of a record. A text longer than the
// field is cut at a UTF-8 character boundary, never in the middle of a character.
void SetRecordText(char* field, std::size_t capacity, std::string_view text);

template <std::size_t N>
void SetRecordText(char (&field)[N], std::string_view text) {
    SetRecordText(field, N, text);
}

// True when `text` fits the field with its terminator, so that it is kept whole.
template <std::size_t N>
constexpr bool FitsRecordText(const char (&)[N], std::string_view text) {
    return text.size() < N;
}

#pragma once

#include <algorithm>
#include <cstddef>
#include <string_view>

// The zero-terminated text fields of a fixed size that records and rows keep.
class FieldText {
  public:
    // Copies as much of `text` as fits before the terminator.
    static void copy(char* field, std::size_t capacity, std::string_view text) {
        const std::size_t n = std::min(text.size(), capacity - 1);
        std::copy(text.begin(), text.begin() + static_cast<long>(n), field);
        field[n] = '\0';
    }

    // Whether the terminated `stored` text is `text`, without measuring `stored`.
    static bool equals(const char* stored, std::size_t capacity, std::string_view text) {
        return text.size() < capacity && stored[text.size()] == '\0' &&
               std::string_view(stored, text.size()) == text;
    }
};

#pragma once

#include <cstddef>
#include <string_view>

// Searches in Japanese-code-page text: bytes 0x81-0x9F and 0xE0-0xFC lead a two-byte
// character, so the byte after a lead byte is never the start of a match. The start of every
// text handed in counts as a character boundary.
class Cp932Text {
  public:
    static constexpr std::size_t npos = std::string_view::npos;

    static constexpr bool isLeadByte(unsigned char c) {
        return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
    }

    // First occurrence of `needle` at or after `from` (a character boundary) that begins on a
    // character boundary; npos when there is none. An empty needle is found at `from`.
    static std::size_t find(std::string_view text, std::string_view needle, std::size_t from = 0);

    // Last occurrence of the single-byte character `c` on a character boundary; npos if none.
    static std::size_t findLast(std::string_view text, char c);

    // Last occurrence of either single-byte character on a character boundary; npos if none.
    static std::size_t findLastOf(std::string_view text, char a, char b);

    // Upper-cases the letters a-z in place; two-byte characters stay untouched.
    static void toUpper(char* text, std::size_t length);

    // Walks forward over whole characters and tells whether `position` starts one. Positions
    // asked must not decrease, which keeps a whole search linear.
    class BoundaryCursor {
      public:
        explicit BoundaryCursor(std::string_view text, std::size_t start = 0)
            : text_(text), cursor_(start) {}
        bool isBoundary(std::size_t position);

      private:
        std::string_view text_;
        std::size_t cursor_;
    };
};

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

    // Whether no byte of `text` is 0x80 or above: then it holds no two-byte character and
    // every position is a boundary. The searches below take this answer (`singleBytes`) from
    // a caller who already has it for a larger text, and skip the walk over characters.
    static bool singleBytesOnly(std::string_view text);
    // The text of `size` bytes at `bytes` up to its first zero byte (all of them when there is
    // none), with singleBytesOnly() of it, in one pass.
    static std::string_view upToZero(const char* bytes, std::size_t size, bool& singleBytes);

    // First occurrence of `needle` at or after `from` (a character boundary) that begins on a
    // character boundary; npos when there is none. An empty needle is found at `from`.
    static std::size_t find(std::string_view text, std::string_view needle, std::size_t from = 0,
                            bool singleBytes = false);

    // Last occurrence of the single-byte character `c` on a character boundary; npos if none.
    static std::size_t findLast(std::string_view text, char c);

    // Last occurrence of either single-byte character on a character boundary; npos if none.
    static std::size_t findLastOf(std::string_view text, char a, char b, bool singleBytes = false);

    // Upper-cases the letters a-z in place; two-byte characters stay untouched.
    static void toUpper(char* text, std::size_t length);

    // Walks forward over whole characters and tells whether `position` starts one. Positions
    // asked must not decrease, which keeps a whole search linear.
    class BoundaryCursor {
      public:
        explicit BoundaryCursor(std::string_view text, std::size_t start = 0,
                                bool singleBytes = false)
            : text_(text), cursor_(start), singleBytes_(singleBytes) {}
        bool isBoundary(std::size_t position) { return singleBytes_ || walkTo(position); }

      private:
        bool walkTo(std::size_t position);

        std::string_view text_;
        std::size_t cursor_;
        bool singleBytes_;
    };
};

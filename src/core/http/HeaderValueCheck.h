#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string_view>

// Whether a header value (Referer, User-Agent, Cookie) may go into a request of ours or a
// copied command as it is: a line break would add headers of its own and other control bytes
// would reach a terminal, so every byte below 0x20 but tab, and DEL, refuse it. Tab and bytes
// from 0x80 are field text. Defined here because detection checks every captured request.
class HeaderValueCheck {
  public:
    static bool sendable(std::string_view value) noexcept {
        std::size_t i = 0;
        // Eight bytes at a time; only a word that may hold one is looked at byte by byte.
        for (; i + 8 <= value.size(); i += 8) {
            std::uint64_t word;
            std::memcpy(&word, value.data() + i, 8);
            if (mayHoldControlByte(word) &&
                std::any_of(value.data() + i, value.data() + i + 8, isControlByte)) {
                return false;
            }
        }
        return std::none_of(value.data() + i, value.data() + value.size(), isControlByte);
    }

  private:
    static bool isControlByte(char c) noexcept {
        const auto byte = static_cast<unsigned char>(c);
        return (byte < 0x20 && byte != '\t') || byte == 0x7F;
    }

    // Whether one of the eight bytes of `word` is below 0x20 or is 0x7F (tab included).
    static bool mayHoldControlByte(std::uint64_t word) noexcept {
        constexpr std::uint64_t kOnes = 0x0101010101010101ull;
        constexpr std::uint64_t kHigh = 0x8080808080808080ull;
        const std::uint64_t below20 = (word - kOnes * 0x20) & ~word & kHigh;
        const std::uint64_t del = word ^ (kOnes * 0x7F);
        return (below20 | ((del - kOnes) & ~del & kHigh)) != 0;
    }
};

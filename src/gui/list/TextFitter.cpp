#include "gui/list/TextFitter.h"

namespace {
bool isContinuationByte(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}
}  // namespace

std::size_t TextFitter::boundaryAtOrBefore(std::string_view text, std::size_t pos) {
    if (pos >= text.size()) {
        return text.size();
    }
    // A stray run of continuation bytes (raw bytes from traffic) is at most 3 long in valid
    // text; past that the bytes are cut where they are.
    std::size_t n = pos;
    while (n > 0 && pos - n < 3 && isContinuationByte(text[n])) {
        --n;
    }
    return isContinuationByte(text[n]) ? pos : n;
}

std::size_t TextFitter::firstCharacterEnd(std::string_view text) {
    std::size_t n = 1;
    while (n < text.size() && n < 4 && isContinuationByte(text[n])) {
        ++n;
    }
    return n;
}

TextFitter::Result TextFitter::fit(std::string_view text, int width, int margin,
                                   const Measure& measure) {
    if (text.empty() || measure(text) + margin <= width) {
        return {std::string(text), false};
    }
    const int room = width - measure(kDots) - margin;
    auto fits = [&](std::size_t n) { return n > 0 && measure(text.substr(0, n)) <= room; };

    // Widths grow with the prefix, so the longest fitting prefix is found by bisection over
    // the byte positions 1 .. size-1, each snapped down to a character boundary.
    std::size_t low = 0;  // largest position known to fit (0: none)
    std::size_t high = text.size();
    while (high - low > 1) {
        const std::size_t mid = low + (high - low) / 2;
        if (fits(boundaryAtOrBefore(text, mid))) {
            low = mid;
        } else {
            high = mid;
        }
    }
    std::size_t keep = low > 0 ? boundaryAtOrBefore(text, low) : 0;
    if (keep == 0) {
        keep = firstCharacterEnd(text);
    }
    std::string shortened(text.substr(0, keep));
    shortened += kDots;
    return {std::move(shortened), true};
}

#pragma once

#include <functional>
#include <string>
#include <string_view>

// Shortens a cell text with "..." so that it fits its column. Cuts only between UTF-8
// characters, so a Japanese text never ends in half a character.
class TextFitter {
  public:
    static constexpr int kFirstColumnMargin = 4;
    static constexpr int kOtherColumnMargin = 12;
    static constexpr std::string_view kDots = "...";

    // Width of a text in the drawing font; must grow (or stay) as the text grows.
    using Measure = std::function<int(std::string_view)>;

    struct Result {
        std::string text;
        bool shortened = false;
    };

    // The text itself when it fits in `width` with `margin` to spare, otherwise its longest
    // prefix that fits together with "..." (at least its first character) followed by "...".
    static Result fit(std::string_view text, int width, int margin, const Measure& measure);

    // Largest character boundary at or below `pos`.
    static std::size_t boundaryAtOrBefore(std::string_view text, std::size_t pos);
    // End of the first character of a non-empty text.
    static std::size_t firstCharacterEnd(std::string_view text);
};

#pragma once

#include <string>
#include <string_view>
#include <vector>

// Quoting for a POSIX shell. A quoted word goes in single quotes, inside which the shell gives
// no byte a meaning (no $, backtick, backslash or line break); a single quote itself is
// closed, escaped and reopened. The words come from the wire, so a word is left bare only when
// every byte of it is one the shell reads as itself wherever it stands.
class ShellQuote {
  public:
    // One word as the shell must read it back, byte for byte, always in quotes.
    static std::string word(std::string_view bytes);
    // The same, but bare when it holds only letters, digits and "%+,-./:@_" (no '=', which
    // would make a first word an assignment, no '~', no glob or brace character).
    static std::string minimalWord(std::string_view bytes);
    // The words joined by spaces, each quoted only when it needs it.
    static std::string line(const std::vector<std::string>& words);
};

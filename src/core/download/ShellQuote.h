#pragma once

#include <string>
#include <string_view>
#include <vector>

// Quoting for a POSIX shell. Every word goes in single quotes, inside which the shell gives
// no byte a meaning (no $, backtick, backslash or line break); a single quote itself is
// closed, escaped and reopened. The words come from the wire, so nothing is ever left bare.
class ShellQuote {
  public:
    // One word as the shell must read it back, byte for byte.
    static std::string word(std::string_view bytes);
    // The words joined by spaces, each quoted.
    static std::string line(const std::vector<std::string>& words);
};

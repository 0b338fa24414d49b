#include "core/download/ShellQuote.h"

#include <algorithm>

namespace {

bool readAsItself(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           std::string_view("%+,-./:@_").find(c) != std::string_view::npos;
}

}  // namespace

std::string ShellQuote::word(std::string_view bytes) {
    std::string quoted;
    quoted.reserve(bytes.size() + 2);
    quoted += '\'';
    for (char c : bytes) {
        if (c == '\'') {
            quoted += "'\\''";
        } else {
            quoted += c;
        }
    }
    quoted += '\'';
    return quoted;
}

std::string ShellQuote::minimalWord(std::string_view bytes) {
    // An empty word must still be a word.
    if (!bytes.empty() && std::all_of(bytes.begin(), bytes.end(), readAsItself)) {
        return std::string(bytes);
    }
    return word(bytes);
}

std::string ShellQuote::line(const std::vector<std::string>& words) {
    std::string text;
    for (const std::string& w : words) {
        if (!text.empty()) {
            text += ' ';
        }
        text += minimalWord(w);
    }
    return text;
}

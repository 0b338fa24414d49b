#include "core/download/ShellQuote.h"

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

std::string ShellQuote::line(const std::vector<std::string>& words) {
    std::string text;
    for (const std::string& w : words) {
        if (!text.empty()) {
            text += ' ';
        }
        text += word(w);
    }
    return text;
}

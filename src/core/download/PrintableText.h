#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Bytes from the network without their control bytes, so that none reaches a log, a dialog or
// a terminal; at most `limit` of them.
inline std::string PrintableText(std::string_view text, std::size_t limit) {
    std::string shown;
    for (char c : text.substr(0, limit)) {
        auto byte = static_cast<unsigned char>(c);
        shown += byte < 0x20 || byte == 0x7F ? '?' : c;
    }
    return shown;
}

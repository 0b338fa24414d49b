// Feeds arbitrary text to a key log in pieces the input chooses, then looks its entries up.
#include <cstdint>
#include <string_view>

#include "core/tls/KeyLog.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    KeyLog keys(4);
    // The first byte cuts the text into pieces of that size (a partial line each time).
    std::size_t piece = text.empty() ? 1 : static_cast<unsigned char>(text.front()) + 1;
    for (std::size_t at = 0; at < text.size(); at += piece) {
        keys.addText(text.substr(at, piece));
    }
    keys.endText();
    KeyLog::Counts counts = keys.counts();
    if (keys.size() > 4 || keys.size() > counts.added ||
        (counts.added == 0) != (keys.generation() == 0)) {
        __builtin_trap();
    }
    for (const KeyLog::Candidate& candidate : keys.recentUnclaimed(8)) {
        if (!keys.find(candidate.random) || !keys.claim(candidate.random) ||
            keys.claim(candidate.random)) {
            __builtin_trap();
        }
    }
    if (!keys.recentUnclaimed(8).empty()) {
        __builtin_trap();
    }
    return 0;
}

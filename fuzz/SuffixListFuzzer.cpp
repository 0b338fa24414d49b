// Feeds arbitrary file contents to the suffix list loader.
#include <cstdint>
#include <cstring>
#include <string_view>

#include "core/detect/SuffixListFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto table = SuffixListFile::parse(std::string_view(reinterpret_cast<const char*>(data), size));
    if (table->count() < 0 || table->count() > SuffixTable::kCapacity) {
        __builtin_trap();
    }
    for (int i = 0; i < table->count(); ++i) {
        const SuffixEntry& row = table->row(i);
        if (std::memchr(row.suffix, 0, sizeof row.suffix) == nullptr ||
            std::memchr(row.typeName, 0, sizeof row.typeName) == nullptr) {
            __builtin_trap();
        }
    }
    // The table built from the input searches the input itself: suffixes and text that
    // share odd bytes, lead bytes and ends.
    auto match = table->findFirstMatch(std::string_view(reinterpret_cast<const char*>(data), size));
    if (match &&
        (match->row >= table->count() || match->position == 0 || match->position >= size)) {
        __builtin_trap();
    }
    return 0;
}

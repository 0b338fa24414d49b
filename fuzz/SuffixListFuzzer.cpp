// Feeds arbitrary file contents to the suffix list loader.
#include <cstdint>
#include <cstring>
#include <string_view>

#include "detect/SuffixListFile.h"

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
        table->findFirstMatch(std::string_view(reinterpret_cast<const char*>(data), size));
    }
    return 0;
}

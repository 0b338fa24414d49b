#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// A JSON string of a field's bytes: valid UTF-8 as it is, every other byte as \u00XX, so text
// cut out of traffic always yields valid JSON.
class JsonString {
  public:
    // Appends `bytes` in quotes.
    static void append(std::string& out, std::string_view bytes);

    // Writes `bytes` in quotes at `out`, which has room for maxLength(bytes.size()) chars;
    // returns the end of what it wrote.
    static char* write(char* out, std::string_view bytes);

    // The most chars write() may take for `size` bytes: each byte may grow to \u00XX.
    static constexpr std::size_t maxLength(std::size_t size) { return 6 * size + 2; }
};

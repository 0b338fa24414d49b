#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// Small text helpers shared by the HTTP/1.x and HTTP/2 readers.
class HttpFieldText {
  public:
    // `value` without the spaces and tabs around it.
    static std::string_view trim(std::string_view value);
    static bool equalsIgnoringCase(std::string_view a, std::string_view b);
    // Bytes below 0x20 and DEL; bytes from 0x80 are text in some encoding and kept.
    static bool hasControlBytes(std::string_view value);
    // Copies `value` into `out` when it is at most `limit` bytes without control bytes;
    // otherwise empties `out` and returns false.
    static bool keep(std::string& out, std::string_view value, std::size_t limit);
    // keep(), with ASCII letters made lower-case.
    static bool keepLowerCase(std::string& out, std::string_view value, std::size_t limit);
    // A non-negative decimal number of at most 18 digits, nothing else.
    static std::optional<std::uint64_t> decimal(std::string_view digits);
    // A response's :status: three digits, the first not 0.
    static std::optional<int> statusCode(std::string_view value);
};

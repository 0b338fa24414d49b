#include "core/http/HttpFieldText.h"

#include <algorithm>

namespace {

char lowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool isSpace(char c) {
    return c == ' ' || c == '\t';
}

}  // namespace

std::string_view HttpFieldText::trim(std::string_view value) {
    while (!value.empty() && isSpace(value.front())) {
        value.remove_prefix(1);
    }
    while (!value.empty() && isSpace(value.back())) {
        value.remove_suffix(1);
    }
    return value;
}

bool HttpFieldText::equalsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return lowerAscii(x) == lowerAscii(y);
           });
}

bool HttpFieldText::hasControlBytes(std::string_view value) {
    return std::any_of(value.begin(), value.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte < 0x20 || byte == 0x7F;
    });
}

bool HttpFieldText::keep(std::string& out, std::string_view value, std::size_t limit) {
    if (value.size() > limit || hasControlBytes(value)) {
        out.clear();
        return false;
    }
    out.assign(value);
    return true;
}

bool HttpFieldText::keepLowerCase(std::string& out, std::string_view value, std::size_t limit) {
    if (!keep(out, value, limit)) {
        return false;
    }
    std::transform(out.begin(), out.end(), out.begin(), lowerAscii);
    return true;
}

std::optional<std::uint64_t> HttpFieldText::decimal(std::string_view digits) {
    if (digits.empty() || digits.size() > 18) {
        return std::nullopt;
    }
    std::uint64_t number = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        number = number * 10 + static_cast<std::uint64_t>(c - '0');
    }
    return number;
}

std::optional<int> HttpFieldText::statusCode(std::string_view value) {
    if (value.size() != 3 || value.front() < '1' || value.front() > '9') {
        return std::nullopt;
    }
    const auto number = decimal(value);
    return number ? std::optional<int>(static_cast<int>(*number)) : std::nullopt;
}

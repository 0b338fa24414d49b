#include "core/download/mms/MmsServerAddress.h"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace {

bool IsMmsScheme(std::string_view scheme) {
    std::string lower(scheme);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower == "mms" || lower == "mmst" || lower == "mmsu" || lower == "msst";
}

std::optional<std::uint16_t> ParsePort(std::string_view text) {
    unsigned value = 0;
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc() || ptr != end || value == 0 || value > 65535) {
        return std::nullopt;
    }
    return static_cast<std::uint16_t>(value);
}

}  // namespace

std::optional<MmsServerAddress> MmsServerAddress::FromHost(std::string_view host) {
    std::string_view authority = host;
    if (std::size_t separator = host.find("://"); separator != std::string_view::npos) {
        if (!IsMmsScheme(host.substr(0, separator))) {
            return std::nullopt;
        }
        authority = host.substr(separator + 3);
    }
    authority = authority.substr(0, authority.find_first_of("/?#"));

    MmsServerAddress result;
    std::string_view rest;
    if (authority.starts_with('[')) {
        std::size_t close = authority.find(']');
        if (close == std::string_view::npos) {
            return std::nullopt;
        }
        result.name = std::string(authority.substr(1, close - 1));
        rest = authority.substr(close + 1);
        if (!rest.empty() && !rest.starts_with(':')) {
            return std::nullopt;
        }
    } else {
        std::size_t colon = authority.find(':');
        result.name = std::string(authority.substr(0, colon));
        rest = colon == std::string_view::npos ? std::string_view() : authority.substr(colon);
    }
    if (result.name.empty()) {
        return std::nullopt;
    }
    if (!rest.empty()) {
        auto port = ParsePort(rest.substr(1));
        if (!port) {
            return std::nullopt;
        }
        result.port = *port;
    }
    return result;
}

#include "core/http/Http1StartLine.h"

#include <algorithm>
#include <cstring>

namespace {

bool isTokenChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           (c != '\0' && std::strchr("!#$%&'*+-.^_`|~", c) != nullptr);
}

bool isHttp1Version(std::string_view text) {
    return text.size() == 8 && text.starts_with("HTTP/1.") && text[7] >= '0' && text[7] <= '9';
}

}  // namespace

std::optional<Http1StartLine::Request> Http1StartLine::request(std::string_view line) {
    const std::size_t firstSpace = line.find(' ');
    const std::size_t lastSpace = line.rfind(' ');
    if (firstSpace == std::string_view::npos || firstSpace == lastSpace) {
        return std::nullopt;
    }
    const std::string_view method = line.substr(0, firstSpace);
    const std::string_view target = line.substr(firstSpace + 1, lastSpace - firstSpace - 1);
    if (method.empty() || !std::all_of(method.begin(), method.end(), isTokenChar) ||
        target.empty() || target.find(' ') != std::string_view::npos ||
        !isHttp1Version(line.substr(lastSpace + 1))) {
        return std::nullopt;
    }
    return Request{method, target};
}

std::optional<int> Http1StartLine::status(std::string_view line) {
    if (line.size() < 12 || !isHttp1Version(line.substr(0, 8)) || line[8] != ' ' ||
        (line.size() > 12 && line[12] != ' ')) {
        return std::nullopt;
    }
    int status = 0;
    for (char c : line.substr(9, 3)) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        status = status * 10 + (c - '0');
    }
    return status >= 100 ? std::optional<int>(status) : std::nullopt;
}

#include "cli/DownloadUrl.h"

#include <cctype>

std::optional<DownloadUrl> DownloadUrl::Split(const std::string& url) {
    auto separator = url.find("://");
    if (separator == std::string::npos || separator == 0) {
        return std::nullopt;
    }
    DownloadUrl result;
    for (std::size_t i = 0; i < separator; ++i) {
        unsigned char c = static_cast<unsigned char>(url[i]);
        if (!std::isalnum(c) && c != '+' && c != '-' && c != '.') {
            return std::nullopt;
        }
        result.scheme += static_cast<char>(std::tolower(c));
    }
    std::size_t serverStart = separator + 3;
    std::size_t pathStart = url.find_first_of("/?#", serverStart);
    if (pathStart == std::string::npos) {
        pathStart = url.size();
    }
    if (pathStart == serverStart) {
        return std::nullopt;
    }
    result.host = url.substr(0, pathStart);
    result.path = url.substr(pathStart);
    return result;
}

#include "gui/list/UrlSchemePolicy.h"

#include <array>
#include <cctype>
#include <string>

bool UrlSchemePolicy::mayOpenInBrowser(std::string_view url) {
    static constexpr std::array<std::string_view, 6> kAllowed = {"http", "https", "mms",
                                                                 "mmst", "mmsu",  "rtsp"};
    const auto colon = url.find("://");
    if (colon == std::string_view::npos) {
        return false;
    }
    std::string scheme(url.substr(0, colon));
    for (char& c : scheme) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    for (std::string_view allowed : kAllowed) {
        if (scheme == allowed) {
            return true;
        }
    }
    return false;
}

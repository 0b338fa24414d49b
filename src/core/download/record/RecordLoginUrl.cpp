#include "core/download/record/RecordLoginUrl.h"

#include <optional>
#include <string_view>

namespace {

// Percent-encodes a login part for the URL's user-information.
std::string EncodedLoginPart(std::string_view text) {
    static const char* hex = "0123456789ABCDEF";
    std::string encoded;
    for (char c : text) {
        auto byte = static_cast<unsigned char>(c);
        if ((byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') ||
            (byte >= '0' && byte <= '9') || c == '-' || c == '.' || c == '_' || c == '~') {
            encoded += c;
        } else {
            encoded += '%';
            encoded += hex[byte >> 4];
            encoded += hex[byte & 15];
        }
    }
    return encoded;
}

// Where a URL's authority starts and where its host starts within it (behind any login);
// nullopt for a URL without "://".
struct Authority {
    std::size_t start;
    std::size_t host;
};

std::optional<Authority> AuthorityOf(const std::string& url) {
    std::size_t schemeEnd = url.find("://");
    if (schemeEnd == std::string::npos) {
        return std::nullopt;
    }
    std::size_t authority = schemeEnd + 3;
    std::size_t authorityEnd = url.find_first_of("/?#", authority);
    std::size_t at = url.rfind('@', authorityEnd == std::string::npos ? url.size() : authorityEnd);
    return Authority{authority, at != std::string::npos && at >= authority ? at + 1 : authority};
}

}  // namespace

namespace RecordLoginUrl {

std::string withLogin(const std::string& url, const std::string& user,
                      const std::string& password) {
    const std::optional<Authority> authority = AuthorityOf(url);
    if (!authority) {
        return url;
    }
    return url.substr(0, authority->start) + EncodedLoginPart(user) + ":" +
           EncodedLoginPart(password) + "@" + url.substr(authority->host);
}

std::string withoutLogin(const std::string& url) {
    const std::optional<Authority> authority = AuthorityOf(url);
    return authority ? url.substr(0, authority->start) + url.substr(authority->host) : url;
}

}  // namespace RecordLoginUrl

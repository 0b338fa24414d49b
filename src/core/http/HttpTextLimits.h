#pragma once

#include <cstddef>

// The longest text kept from a head. A longer method, authority or path drops the request;
// any other text is left empty.
struct HttpTextLimits {
    static constexpr std::size_t kMethod = 32;
    static constexpr std::size_t kScheme = 32;
    static constexpr std::size_t kAuthority = 255;
    static constexpr std::size_t kPath = 4096;
    static constexpr std::size_t kReferer = 1024;
    static constexpr std::size_t kUserAgent = 512;
    static constexpr std::size_t kCookie = 2048;
    static constexpr std::size_t kContentType = 255;
};

#pragma once

#include <cstdint>
#include <string>

// A request head found in a connection, as the detector needs it. Texts are owned copies,
// bounded by HttpTextLimits and free of control bytes.
struct HttpRequestHead {
    std::uint64_t stream = 0;  // HTTP/2 or HTTP/3 stream id; HTTP/1.x: 0
    std::uint64_t index = 0;   // its place among the connection's reported requests
    std::string method, scheme, authority, path, referer, userAgent, cookie;
};

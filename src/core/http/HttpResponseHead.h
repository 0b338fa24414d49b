#pragma once

#include <cstdint>
#include <string>

// A response head: which request it answers (HttpRequestHead::index), its status and its
// Content-Type (lower-case, parameters kept; empty when absent or too long).
struct HttpResponseHead {
    std::uint64_t stream = 0;
    std::uint64_t requestIndex = 0;
    int status = 0;
    std::string contentType;
};

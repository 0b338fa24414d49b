#pragma once

#include <optional>
#include <string_view>

// The first line of an HTTP/1.x request or response.
class Http1StartLine {
  public:
    struct Request {
        std::string_view method;
        std::string_view target;
    };

    // "METHOD target HTTP/1.x": a token method, a target without spaces.
    static std::optional<Request> request(std::string_view line);
    // "HTTP/1.x NNN reason": the three-digit status.
    static std::optional<int> status(std::string_view line);
};

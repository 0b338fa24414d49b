// What the HTTP fuzzers check of every head a connection reports, and how they cut their
// input into chunks of both directions. Any breach traps, so the fuzzer reports it.
#pragma once

#include <algorithm>
#include <cstdint>
#include <span>
#include <string>

#include "core/http/HttpFieldText.h"
#include "core/http/HttpMessageSink.h"
#include "core/http/HttpTextLimits.h"
#include "core/http/MediaContentType.h"

namespace fuzz_http {

inline void check(bool holds) {
    if (!holds) {
        __builtin_trap();
    }
}

inline void checkText(const std::string& text, std::size_t limit) {
    check(text.size() <= limit && !HttpFieldText::hasControlBytes(text));
}

// Heads within the bounds the detector relies on, answers only to requests reported.
class CheckingSink : public HttpMessageSink {
  public:
    void onRequest(const HttpRequestHead& request) override {
        check(request.index == requests_++ && !request.method.empty());
        checkText(request.method, HttpTextLimits::kMethod);
        checkText(request.scheme, HttpTextLimits::kScheme);
        checkText(request.authority, HttpTextLimits::kAuthority);
        checkText(request.path, HttpTextLimits::kPath);
        checkText(request.referer, HttpTextLimits::kReferer);
        checkText(request.userAgent, HttpTextLimits::kUserAgent);
        checkText(request.cookie, HttpTextLimits::kCookie);
    }
    void onResponse(const HttpResponseHead& response) override {
        check(response.requestIndex < requests_ && response.status >= 200 &&
              response.status <= 999);
        checkText(response.contentType, HttpTextLimits::kContentType);
        MediaContentType::of(response.contentType);
    }

  private:
    std::uint64_t requests_ = 0;
};

// Each chunk is a control byte (top bit: from the server; the rest: length - 1) and its bytes.
template <typename Connection>
void feedChunks(Connection& connection, std::span<const std::uint8_t> input,
                HttpMessageSink& sink) {
    while (!input.empty()) {
        const bool fromClient = (input.front() & 0x80) == 0;
        const std::size_t length =
            std::min<std::size_t>((input.front() & 0x7F) + 1u, input.size() - 1);
        connection.feed(fromClient, input.subspan(1, length), sink);
        input = input.subspan(1 + length);
    }
    check(connection.failed() == !connection.failure().empty());
}

}  // namespace fuzz_http

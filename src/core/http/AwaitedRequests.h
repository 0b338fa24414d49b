#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/http/HttpMessageSink.h"
#include "core/http/HttpResponseHead.h"
#include "core/http/RequestHeadBuilder.h"

// The requests of a connection with streams (HTTP/2, HTTP/3) reported and not answered yet:
// numbers each request as it is reported and pairs a final response to it by stream.
class AwaitedRequests {
  public:
    // Reports the request `builder` holds, unless it is trailers or unusable.
    void report(RequestHeadBuilder& builder, HttpMessageSink& sink);
    // Reports a final response to a reported request, with that request's number.
    void answer(const HttpResponseHead& response, HttpMessageSink& sink);
    // The stream will carry no answer to what it asked (reset, reused).
    void forget(std::uint64_t stream);

  private:
    // Requests reported whose final response has not come, at most this many.
    static constexpr std::size_t kMaxAwaited = 512;

    struct Awaited {
        std::uint64_t stream = 0;
        std::uint64_t index = 0;
    };

    std::vector<Awaited> awaited_;
    std::uint64_t reported_ = 0;
};

#pragma once

#include "core/http/HttpRequestHead.h"
#include "core/http/HttpResponseHead.h"

// Receives the heads a connection's reader finds, in the order their last byte was fed. The
// heads are only valid during the call.
class HttpMessageSink {
  public:
    virtual ~HttpMessageSink() = default;
    virtual void onRequest(const HttpRequestHead& request) = 0;
    // Only final answers (status 200 and up) to requests that were reported.
    virtual void onResponse(const HttpResponseHead& response) = 0;
};

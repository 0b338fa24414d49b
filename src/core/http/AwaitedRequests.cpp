#include "core/http/AwaitedRequests.h"

#include <algorithm>

void AwaitedRequests::report(RequestHeadBuilder& builder, HttpMessageSink& sink) {
    if (!builder.hasMethod()) {
        return;  // trailers
    }
    const HttpRequestHead* request = builder.finish(reported_);
    if (request == nullptr) {
        return;
    }
    forget(request->stream);
    if (awaited_.size() == kMaxAwaited) {
        awaited_.erase(awaited_.begin());  // the oldest will hardly be answered now
    }
    awaited_.push_back({request->stream, reported_++});
    sink.onRequest(*request);
}

void AwaitedRequests::answer(const HttpResponseHead& response, HttpMessageSink& sink) {
    const auto found = std::find_if(awaited_.begin(), awaited_.end(),
                                    [&](const Awaited& a) { return a.stream == response.stream; });
    if (found == awaited_.end()) {
        return;
    }
    HttpResponseHead answer = response;
    answer.requestIndex = found->index;
    awaited_.erase(found);
    sink.onResponse(answer);
}

void AwaitedRequests::forget(std::uint64_t stream) {
    std::erase_if(awaited_, [stream](const Awaited& a) { return a.stream == stream; });
}

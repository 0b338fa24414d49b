#include "core/http/Http1Connection.h"

#include "core/http/Http1BodyFraming.h"
#include "core/http/Http1HeadLines.h"
#include "core/http/Http1StartLine.h"
#include "core/http/HttpFieldText.h"
#include "core/http/HttpTextLimits.h"

namespace {

bool bodiless(int status) {
    return status < 200 || status == 204 || status == 304;
}

}  // namespace

Http1Connection::Http1Connection(std::string_view scheme) {
    HttpFieldText::keepLowerCase(scheme_, scheme, HttpTextLimits::kScheme);
}

void Http1Connection::feed(bool fromClient, std::span<const std::uint8_t> bytes,
                           HttpMessageSink& sink) {
    Direction& direction = fromClient ? client_ : server_;
    while (!bytes.empty() && !failed() && direction.step != Step::Opaque) {
        if (direction.step == Step::Body) {
            skipBody(direction, bytes);
            continue;
        }
        const std::optional<std::string_view> head = direction.head.take(bytes);
        if (!head) {
            if (direction.head.overflowed()) {
                fail(std::string(fromClient ? "request" : "response") + " head longer than " +
                     std::to_string(Http1HeadReader::kMaxHead) + " bytes");
            }
            return;
        }
        if (fromClient) {
            readRequest(*head, sink);
        } else {
            readResponse(*head, sink);
        }
    }
}

void Http1Connection::skipBody(Direction& direction, std::span<const std::uint8_t>& bytes) {
    switch (direction.body.skip(bytes)) {
        case Http1BodySkipper::Result::Done:
            direction.step = Step::Head;
            break;
        case Http1BodySkipper::Result::Broken:
            fail(std::string(direction.body.problem()));
            break;
        case Http1BodySkipper::Result::NeedBytes:
            break;
    }
}

void Http1Connection::readRequest(std::string_view head, HttpMessageSink& sink) {
    Http1HeadLines lines(head);
    const auto requestLine = Http1StartLine::request(lines.startLine());
    if (!requestLine) {
        fail("client stream is not HTTP/1.x: no request line");
        return;
    }
    if (awaited_.size() == kMaxAwaited) {
        fail("more than " + std::to_string(kMaxAwaited) + " requests without a response");
        return;
    }
    request_.start(0);
    request_.setMethod(requestLine->method);
    readTarget(requestLine->method, requestLine->target);
    Http1BodyFraming framing;
    std::string_view name;
    std::string_view value;
    while (lines.next(name, value)) {
        if (!framing.take(name, value)) {
            takeRequestField(name, value);
        }
    }
    // A request body has a length or chunks; anything else cannot be found.
    if (framing.contradictory() || (framing.hasTransferEncoding() && !framing.chunked())) {
        fail("request body length cannot be told");
        return;
    }
    Awaited awaited{requestLine->method == "HEAD", requestLine->method == "CONNECT", {}};
    if (const HttpRequestHead* request = request_.finish(reported_)) {
        awaited.index = reported_++;
        sink.onRequest(*request);
    }
    awaited_.push_back(awaited);
    expectRequestBody(awaited, framing);
}

void Http1Connection::takeRequestField(std::string_view name, std::string_view value) {
    if (HttpFieldText::equalsIgnoringCase(name, "host")) {
        request_.setHost(value);
    } else if (HttpFieldText::equalsIgnoringCase(name, "referer")) {
        request_.setReferer(value);
    } else if (HttpFieldText::equalsIgnoringCase(name, "user-agent")) {
        request_.setUserAgent(value);
    } else if (HttpFieldText::equalsIgnoringCase(name, "cookie")) {
        request_.addCookie(value);
    }
}

void Http1Connection::expectRequestBody(const Awaited& awaited, const Http1BodyFraming& framing) {
    if (awaited.connect) {
        // What follows is the tunnel's, or a new request after a refusal; either way the
        // client's bytes are no longer read, so they are never taken for a request.
        client_.step = Step::Opaque;
    } else if (framing.chunked()) {
        client_.body.expectChunks();
        client_.step = Step::Body;
    } else if (framing.length().value_or(0) > 0) {
        client_.body.expectLength(*framing.length());
        client_.step = Step::Body;
    }
}

void Http1Connection::readTarget(std::string_view method, std::string_view target) {
    if (method == "CONNECT") {
        request_.setAuthority(target);
        return;
    }
    const std::size_t schemeEnd = target.find("://");
    if (target.front() == '/' || target == "*" || schemeEnd == std::string_view::npos) {
        request_.setScheme(scheme_);
        request_.setPath(target);
        return;
    }
    // Absolute form, as sent to proxies: its authority wins over Host.
    request_.setScheme(target.substr(0, schemeEnd));
    const std::string_view rest = target.substr(schemeEnd + 3);
    const std::size_t pathStart = rest.find_first_of("/?");
    request_.setAuthority(rest.substr(0, pathStart));
    if (pathStart == std::string_view::npos) {
        request_.setPath("/");
    } else if (rest[pathStart] == '?') {
        request_.setPath("/" + std::string(rest.substr(pathStart)));
    } else {
        request_.setPath(rest.substr(pathStart));
    }
}

void Http1Connection::readResponse(std::string_view head, HttpMessageSink& sink) {
    Http1HeadLines lines(head);
    const std::optional<int> status = Http1StartLine::status(lines.startLine());
    if (!status) {
        fail("server stream is not HTTP/1.x: no status line");
        return;
    }
    if (*status == 101) {
        client_.step = Step::Opaque;
        server_.step = Step::Opaque;
        return;
    }
    if (*status < 200) {
        return;  // an interim answer; the final one follows
    }
    response_.contentType.clear();
    Http1BodyFraming framing;
    std::string_view name;
    std::string_view value;
    while (lines.next(name, value)) {
        if (!framing.take(name, value) && HttpFieldText::equalsIgnoringCase(name, "content-type")) {
            HttpFieldText::keepLowerCase(response_.contentType, value,
                                         HttpTextLimits::kContentType);
        }
    }
    // An answer nothing asked for (a 408 before closing) is framed as if for a GET.
    Awaited awaited;
    if (!awaited_.empty()) {
        awaited = awaited_.front();
        awaited_.pop_front();
    }
    if (awaited.index) {
        response_.requestIndex = *awaited.index;
        response_.status = *status;
        sink.onResponse(response_);
    }
    expectResponseBody(awaited, *status, framing);
}

void Http1Connection::expectResponseBody(const Awaited& awaited, int status,
                                         const Http1BodyFraming& framing) {
    if (awaited.connect && status < 300) {
        server_.step = Step::Opaque;
        return;
    }
    if (awaited.head || bodiless(status)) {
        return;
    }
    if (framing.chunked()) {
        server_.body.expectChunks();
    } else if (framing.contradictory()) {
        fail("response body length cannot be told");
        return;
    } else if (framing.hasTransferEncoding() || !framing.length()) {
        // Without a length the body runs to the end of the connection.
        server_.body.expectUntilClose();
    } else if (*framing.length() > 0) {
        server_.body.expectLength(*framing.length());
    } else {
        return;
    }
    server_.step = Step::Body;
}

void Http1Connection::fail(std::string reason) {
    if (failure_.empty()) {
        failure_ = std::move(reason);
    }
}

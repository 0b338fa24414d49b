#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "core/http/Http1BodyFraming.h"
#include "core/http/Http1BodySkipper.h"
#include "core/http/Http1HeadReader.h"
#include "core/http/HttpMessageSink.h"
#include "core/http/RequestHeadBuilder.h"

// Reads one HTTP/1.x connection both ways: requests from the client's stream, responses from
// the server's, each paired to the oldest request still waiting (pipelining). Bodies are
// passed over by counting. After a 101 answer or an accepted CONNECT the connection carries
// something else and is no longer read.
class Http1Connection {
  public:
    // Requests in origin form ("/path") get `scheme`: the connection's own, https when
    // decrypted from TLS.
    explicit Http1Connection(std::string_view scheme = "https");

    // The next bytes of one direction, in order and in any chunks.
    void feed(bool fromClient, std::span<const std::uint8_t> bytes, HttpMessageSink& sink);

    // True once the connection could not be read any further; failure() says why.
    bool failed() const { return !failure_.empty(); }
    std::string_view failure() const { return failure_; }

  private:
    static constexpr std::size_t kMaxAwaited = 128;

    enum class Step { Head, Body, Opaque };
    struct Direction {
        Http1HeadReader head;
        Http1BodySkipper body;
        Step step = Step::Head;
    };
    // A request whose response has not come yet.
    struct Awaited {
        bool head = false;
        bool connect = false;
        std::optional<std::uint64_t> index;  // when it was reported
    };

    void readRequest(std::string_view head, HttpMessageSink& sink);
    void readTarget(std::string_view method, std::string_view target);
    void takeRequestField(std::string_view name, std::string_view value);
    void expectRequestBody(const Awaited& awaited, const Http1BodyFraming& framing);
    void readResponse(std::string_view head, HttpMessageSink& sink);
    void expectResponseBody(const Awaited& awaited, int status, const Http1BodyFraming& framing);
    void skipBody(Direction& direction, std::span<const std::uint8_t>& bytes);
    void fail(std::string reason);

    std::string scheme_;
    Direction client_;
    Direction server_;
    RequestHeadBuilder request_;
    HttpResponseHead response_;
    std::deque<Awaited> awaited_;
    std::uint64_t reported_ = 0;
    std::string failure_;
};

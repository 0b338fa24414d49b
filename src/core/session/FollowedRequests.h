#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "core/detect/DetectedStream.h"
#include "core/detect/StreamDecoder.h"
#include "core/detect/StreamFields.h"
#include "core/http/HttpRequestHead.h"
#include "core/http/HttpResponseHead.h"

// Lists the media requests of one connection read inside TLS or QUIC: a request whose URL has
// a listed suffix at once, any other when its answer's Content-Type names media.
class FollowedRequests {
  public:
    using Found = std::function<void(const StreamFields& stream)>;

    // What the connections of one reader share: its decoder, room for the record's header
    // fields and the request's text, and where rows go.
    struct Room {
        const StreamDecoder& decoder;
        DetectedStream& head;
        std::string& text;
        const Found& found;
    };

    // What a row tells of its connection.
    struct Connection {
        std::string_view httpVersion;  // "1.1", "2", "3"
        std::string_view serverName;   // the client hello's
    };

    // Enough of a datagram for its IP header (with options or extension headers) and transport
    // header: the addresses and ports a row gets.
    static constexpr std::size_t kHeadersKept = 256;

    explicit FollowedRequests(Room room) : room_(room) {}

    // `headers`: the datagram (at most kHeadersKept bytes of it) that completed the request.
    void onRequest(const HttpRequestHead& request, std::span<const std::uint8_t> headers,
                   const Connection& connection);
    void onResponse(const HttpResponseHead& response, const Connection& connection);

  private:
    struct Unanswered {
        std::uint64_t index;
        std::string text;
        std::array<std::uint8_t, kHeadersKept> headers;
        std::size_t headersLength;
    };
    static constexpr std::size_t kUnansweredKept = 32;

    bool report(std::string_view text, std::span<const std::uint8_t> headers,
                const StreamDecoder::MediaKind* given, const Connection& connection);
    static std::string_view printableServerName(std::string_view name);

    Room room_;
    std::deque<Unanswered> unanswered_;
};

#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/http/AwaitedRequests.h"
#include "core/http/Http2Event.h"
#include "core/http/Http2FrameReader.h"
#include "core/http/HttpMessageSink.h"
#include "core/http/RequestHeadBuilder.h"

// Reads one HTTP/2 connection both ways: the client's preface, then each direction's frames
// with its own header decoder. Requests come from the client's HEADERS and the server's
// PUSH_PROMISE; responses from the server's HEADERS, paired to requests by stream. A header
// block that cannot be read gives the whole connection up.
class Http2Connection {
  public:
    // The next bytes of one direction, in order and in any chunks.
    void feed(bool fromClient, std::span<const std::uint8_t> bytes, HttpMessageSink& sink);

    // True once the connection could not be read any further; failure() says why.
    bool failed() const { return !failure_.empty(); }
    std::string_view failure() const { return failure_; }

  private:
    // SETTINGS frames a side may send before the other acknowledges them.
    static constexpr std::size_t kMaxUnacknowledged = 16;

    enum class Block { Request, Response };
    struct Side {
        Http2FrameReader reader;
        Block block = Block::Request;
        RequestHeadBuilder request;
        HttpResponseHead response;
        // Each SETTINGS this side sent and the other has not acknowledged: the table size
        // it announced, if any. It applies to the other side's blocks after the ack.
        std::deque<std::optional<std::uint32_t>> unacknowledged;
    };

    bool readPreface(std::span<const std::uint8_t>& bytes);
    void handle(const Http2Event& event, bool fromClient, HttpMessageSink& sink);
    void startBlock(Side& side, const Http2Event& event, bool fromClient);
    void takeField(Side& side, std::string_view name, std::string_view value);
    void endBlock(Side& side, HttpMessageSink& sink);
    void reportRequest(Side& side, HttpMessageSink& sink);
    void reportResponse(const HttpResponseHead& response, HttpMessageSink& sink);
    void announce(Side& side, Side& other, const Http2Settings& settings);
    void acknowledge(Side& side, Side& other);
    void forget(std::uint64_t stream);
    void fail(std::string reason);

    Side client_;
    Side server_;
    std::size_t prefaceSeen_ = 0;
    AwaitedRequests awaited_;
    std::string failure_;
};

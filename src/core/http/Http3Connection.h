#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "core/http/AwaitedRequests.h"
#include "core/http/Http3FrameReader.h"
#include "core/http/Http3VarIntReader.h"
#include "core/http/HttpMessageSink.h"
#include "core/http/QpackDecoder.h"
#include "core/http/RequestHeadBuilder.h"

// Reads one HTTP/3 connection from its QUIC streams, each direction of each stream in order.
// The client's bidirectional streams carry a request one way and its response the other; the
// unidirectional ones start with their type: control (SETTINGS), QPACK encoder, and others
// that are passed over. Each side's field sections go through a QPACK decoder of their own,
// fed by that side's encoder stream; a section that refers to table entries not read yet
// waits for them. A section that cannot be read gives the whole connection up. Everything
// held is bounded.
class Http3Connection {
  public:
    // The next bytes of one stream in one direction; `fin`: the direction ends with them.
    void feed(std::uint64_t stream, bool fromClient, std::span<const std::uint8_t> bytes, bool fin,
              HttpMessageSink& sink);
    // The direction stops short: reset by its sender or lost.
    void abort(std::uint64_t stream, bool fromClient);

    // True once the connection could not be read any further; failure() says why.
    bool failed() const { return !failure_.empty(); }
    std::string_view failure() const { return failure_; }

  private:
    // Stream directions being read at once.
    static constexpr std::size_t kMaxStreams = 1024;
    // Field sections of one side waiting for its encoder stream.
    static constexpr std::size_t kMaxWaiting = 32;
    // Bytes held in all: frames not whole yet, waiting sections, encoder bytes that came
    // before the table's size was known.
    static constexpr std::size_t kHeldLimit = 1 << 20;
    // The largest dynamic table a decoder keeps; a side allowed more is read from the static
    // table only.
    static constexpr std::size_t kTableLimit = 256 * 1024;

    enum class Kind { Unidentified, Message, Control, Encoder, Ignored };
    struct Stream {
        Kind kind = Kind::Unidentified;
        Http3VarIntReader type;
        Http3FrameReader frames;
    };
    enum class Table { Unknown, Allowed, TooLarge };
    struct Waiting {
        std::uint64_t stream = 0;
        QpackDecoder::Section section;
        std::vector<std::uint8_t> rest;
    };
    // What one side sends: its field sections, decoded with its own encoder stream's table.
    struct Side {
        QpackDecoder decoder;
        Table table = Table::Unknown;  // as the other side's SETTINGS allow
        bool announced = false;        // this side's own SETTINGS were read
        std::vector<std::uint8_t> earlyEncoder;
        std::deque<Waiting> waiting;
        RequestHeadBuilder request;
        HttpResponseHead response;
    };

    Stream* streamFor(std::uint64_t stream, bool fromClient);
    void read(Stream& entry, std::uint64_t stream, bool fromClient,
              std::span<const std::uint8_t> bytes, HttpMessageSink& sink);
    static void identify(Stream& entry, std::span<const std::uint8_t>& bytes);
    void readFrames(Stream& entry, std::uint64_t stream, bool fromClient,
                    std::span<const std::uint8_t> bytes, HttpMessageSink& sink);
    void readSettings(bool fromClient, std::span<const std::uint8_t> payload,
                      HttpMessageSink& sink);
    void allowTable(bool fromClient, std::uint64_t capacity, HttpMessageSink& sink);
    void readEncoder(bool fromClient, std::span<const std::uint8_t> bytes, HttpMessageSink& sink);
    void takeSection(std::uint64_t stream, bool fromClient, std::span<const std::uint8_t> block,
                     HttpMessageSink& sink);
    void wait(Side& side, std::uint64_t stream, QpackDecoder::Section section,
              std::span<const std::uint8_t> rest);
    void resume(bool fromClient, HttpMessageSink& sink);
    QpackDecoder::Outcome decode(std::uint64_t stream, bool fromClient,
                                 QpackDecoder::Section& section,
                                 std::span<const std::uint8_t>& block, HttpMessageSink& sink);
    void reportRequest(Side& side, HttpMessageSink& sink);
    void reportResponse(const HttpResponseHead& response, HttpMessageSink& sink);
    void finish(std::uint64_t stream, bool fromClient);
    void dropWaiting(std::uint64_t stream, bool fromClient);
    void forget(std::uint64_t stream);
    void hold(std::size_t before, std::size_t after);
    void fail(std::string reason);
    Side& sideOf(bool fromClient) { return fromClient ? client_ : server_; }

    std::unordered_map<std::uint64_t, Stream> streams_;
    Side client_;
    Side server_;
    AwaitedRequests awaited_;
    std::size_t held_ = 0;
    std::string failure_;
};

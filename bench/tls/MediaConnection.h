#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>

#include "Http2FrameWriter.h"
#include "SeededRandomSource.h"
#include "TcpConversation.h"
#include "TlsContextPair.h"
#include "TlsPipe.h"

// One HTTPS connection of a media player, made a piece at a time so that many can be
// interleaved: TCP and TLS 1.3 handshakes, HTTP/2 GETs of a playlist and its segments (or of
// progressive MP4 files) and the responses with their bodies, then close_notify and FINs.
class MediaConnection {
  public:
    struct Plan {
        std::uint32_t number = 0;  // names the channel in the paths
        std::string host;
        const char* suite = nullptr;   // the one TLS 1.3 suite the client offers
        std::uint64_t bodyBudget = 0;  // response body bytes to carry, roughly
        TcpConversation::Endpoint client;
        TcpConversation::Endpoint server;
        std::uint32_t clientIsn = 0;  // initial sequence numbers
        std::uint32_t serverIsn = 0;
    };

    // `bodies` holds random bytes that bodies are cut from; it must outlive the connection.
    MediaConnection(const TlsContextPair& contexts, Plan plan, std::string_view bodies,
                    SeededRandomSource& random);

    // Adds the frames of the next piece; false when TLS or HPACK failed.
    bool step();
    bool finished() const { return state_ == State::Closed; }
    std::deque<TcpConversation::Frame>& frames() { return tcp_.frames(); }
    std::uint32_t requests() const { return requests_; }

  private:
    enum class State { Start, Response, Between, Closed };
    enum class Kind { Hls, Fmp4, Progressive };

    bool start();
    bool respondPiece();
    bool nextOrClose();
    bool request();
    void chooseNextPath();
    bool flush(bool fromClient);
    void close();

    TlsPipe tls_;
    TcpConversation tcp_;
    Http2FrameWriter clientFrames_;
    Http2FrameWriter serverFrames_;
    Plan plan_;
    std::string_view bodies_;
    SeededRandomSource& random_;
    Kind kind_;
    State state_ = State::Start;
    std::uint32_t stream_ = 1;
    std::uint32_t requests_ = 0;
    std::uint64_t segmentNumber_ = 0;
    bool settingsAcknowledged_ = false;
    // The response under way.
    std::string path_;
    const char* contentType_ = "";
    std::string playlist_;
    std::string_view body_;
    std::size_t bodySent_ = 0;
};

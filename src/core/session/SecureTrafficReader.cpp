#include "core/session/SecureTrafficReader.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <deque>
#include <optional>
#include <span>
#include <string_view>

#include "core/capture/NetworkBytes.h"
#include "core/flow/FlowConsumer.h"
#include "core/flow/TcpSegmentView.h"
#include "core/flow/UdpDatagramView.h"
#include "core/http/Http1Connection.h"
#include "core/http/Http2Connection.h"
#include "core/http/HttpMessageSink.h"
#include "core/session/QuicTrafficReader.h"
#include "core/tls/TlsConnection.h"

namespace {

// A TLS handshake record: content type 22, then a version whose first byte is 3.
bool startsTlsHandshake(const TcpSegmentView& segment) {
    return segment.payloadLength >= 5 && segment.payload[0] == 0x16 && segment.payload[1] == 0x03;
}

}  // namespace

std::uint64_t SecureTrafficReader::Summary::withoutKeysCount() const {
    std::uint64_t count = 0;
    for (const auto& [name, unread] : withoutKeys) {
        count += unread;
    }
    return count;
}

void SecureTrafficReader::Summary::countWithoutKeys(std::string_view serverName) {
    // Names come from the wire: past so many, further ones count without a name.
    std::string name(serverName);
    if (withoutKeys.size() >= kMaxNames && !withoutKeys.contains(name)) {
        name.clear();
    }
    ++withoutKeys[name];
}

// What is read of one connection: its TLS, then the HTTP its protocol names. Outlives its
// connection while it waits for keys.
class SecureTrafficReader::Session final : private TlsPlaintextSink, private HttpMessageSink {
  public:
    explicit Session(SecureTrafficReader& reader)
        : reader_(reader),
          tls_(TlsConnection::Limits{reader.waiting_.heldPerConnection}),
          keysSeen_(reader.keys_->generation()),
          requests_(reader.room_) {}
    ~Session() override { countHeld(0); }

    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    void feed(bool fromClient, std::span<const std::uint8_t> bytes, const std::uint8_t* datagram,
              std::uint32_t length, std::uint64_t nowMicros) {
        lastPacket_ = nowMicros;
        if (fromClient) {  // the segments that carry requests
            keepHeaders(datagram, length);
        }
        retryWithNewKeys();
        tls_.feed(fromClient, bytes, *reader_.keys_, *this);
        countHeld(waiting() ? held_ + bytes.size() : 0);
        if (waiting() && reader_.heldTotal_ > reader_.waiting_.heldTotal) {
            giveUp();  // the one that overflows stops waiting; the others keep their place
        }
    }

    // Keys for what is held may have arrived since the last look.
    void retryWithNewKeys() {
        KeyLog& keys = *reader_.keys_;
        if (waiting() && keys.generation() != keysSeen_) {
            keysSeen_ = keys.generation();
            tls_.retry(keys, *this);
            if (!waiting()) {
                countHeld(0);
            }
        }
    }

    void giveUp() {
        tls_.stopWaiting();
        countHeld(0);
    }

    bool waiting() const { return tls_.state() == TlsConnection::State::WaitingForKeys; }
    bool readable() const {
        const TlsConnection::State state = tls_.state();
        return state != TlsConnection::State::NotTls && state != TlsConnection::State::Failed &&
               state != TlsConnection::State::NoKeys && !httpFailed();
    }
    std::uint64_t lastPacket() const { return lastPacket_; }

    // Counts the connection once, by how its reading ended.
    void tally(bool dataLost) const {
        SecureTrafficReader::Summary& summary = reader_.summary_;
        switch (tls_.state()) {
            case TlsConnection::State::Decrypting:
                ++summary.connections;
                ++(dataLost || httpFailed() ? summary.failed : summary.decrypted);
                break;
            case TlsConnection::State::WaitingForKeys:
            case TlsConnection::State::NoKeys:
                ++summary.connections;
                summary.countWithoutKeys(tls_.serverName());
                break;
            case TlsConnection::State::Failed:
                ++summary.connections;
                ++summary.failed;
                break;
            case TlsConnection::State::Handshake:
            case TlsConnection::State::NotTls:
                break;
        }
    }

  private:
    void countHeld(std::size_t held) {
        reader_.heldTotal_ = reader_.heldTotal_ - held_ + held;
        held_ = held;
    }

    void keepHeaders(const std::uint8_t* datagram, std::uint32_t length) {
        headersLength_ = std::min<std::size_t>(length, headers_.size());
        std::memcpy(headers_.data(), datagram, headersLength_);
    }

    bool httpFailed() const { return (http1_ && http1_->failed()) || (http2_ && http2_->failed()); }

    void onApplicationData(bool fromClient, std::span<const std::uint8_t> bytes) override {
        if (!http1_ && !http2_) {
            if (tls_.alpn() == "h2") {
                http2_.emplace();
            } else {
                http1_.emplace();
            }
        }
        if (http2_) {
            http2_->feed(fromClient, bytes, *this);
        } else {
            http1_->feed(fromClient, bytes, *this);
        }
    }

    void onRequest(const HttpRequestHead& request) override {
        requests_.onRequest(request, std::span(headers_.data(), headersLength_), connection());
    }
    void onResponse(const HttpResponseHead& response) override {
        requests_.onResponse(response, connection());
    }
    FollowedRequests::Connection connection() const {
        return {http2_ ? "2" : "1.1", tls_.serverName()};
    }

    SecureTrafficReader& reader_;
    TlsConnection tls_;
    std::uint64_t keysSeen_;
    std::size_t held_ = 0;
    std::uint64_t lastPacket_ = 0;
    std::optional<Http1Connection> http1_;
    std::optional<Http2Connection> http2_;
    std::array<std::uint8_t, FollowedRequests::kHeadersKept> headers_{};
    std::size_t headersLength_ = 0;
    FollowedRequests requests_;
};

// One followed TCP connection: hands its bytes to its session, and the session on to wait
// for keys when the connection ends before they came.
class SecureTrafficReader::Connection final : public FlowConsumer {
  public:
    explicit Connection(SecureTrafficReader& reader)
        : reader_(reader), session_(std::make_unique<Session>(reader)) {}

    bool onBytes(FlowDirection direction, std::span<const std::uint8_t> bytes,
                 const std::uint8_t* datagram, std::uint32_t length) override {
        session_->feed(direction == FlowDirection::ToServer, bytes, datagram, length, reader_.now_);
        return session_->readable();
    }

    // A capture loses the server's large segments far more often than the client's requests:
    // they are read on without the answers.
    bool onGap(FlowDirection direction) override { return direction == FlowDirection::ToClient; }

    void onEnd(FlowEnd why) override {
        const bool dataLost = why == FlowEnd::Gap || why == FlowEnd::HeldTooMuch;
        if (session_->waiting() && !dataLost) {
            reader_.linger(std::move(session_));
        } else {
            session_->tally(dataLost);
        }
    }

  private:
    SecureTrafficReader& reader_;
    std::unique_ptr<Session> session_;
};

SecureTrafficReader::SecureTrafficReader(const StreamDecoder& decoder, std::shared_ptr<KeyLog> keys,
                                         const TlsPorts& ports, Found found, Waiting waiting)
    : decoder_(decoder),
      keys_(std::move(keys)),
      ports_(ports),
      found_(std::move(found)),
      waiting_(waiting),
      head_(std::make_unique<DetectedStream>()),
      room_{decoder_, *head_, requestText_, found_} {
    flows_ = std::make_unique<TcpFlowTable>(
        TcpFlowTable::Limits{}, [this](std::uint16_t port) { return ports_.contains(port); },
        [this](const FlowInfo&) -> std::unique_ptr<FlowConsumer> {
            return std::make_unique<Connection>(*this);
        });
    // Without its SYN, a connection is worth following only from its client's hello: the
    // bulk of a capture's TLS traffic is connections long under way.
    flows_->setMidwayStart([this](const TcpSegmentView& segment) {
        return ports_.contains(segment.dstPort) && startsTlsHandshake(segment);
    });
}

SecureTrafficReader::~SecureTrafficReader() {
    finish();
}

void SecureTrafficReader::followPlainHttp(const WatchedPorts& ports) {
    plain_ = std::make_unique<PlainResponseWatcher>(decoder_, ports, found_);
}

bool SecureTrafficReader::isFollowed(const std::uint8_t* datagram, std::uint32_t length,
                                     const TlsPorts& ports, const WatchedPorts* plain) {
    std::optional<TcpSegmentView> segment = TcpSegmentView::parse(datagram, length);
    if (!segment) {
        const std::optional<UdpDatagramView> udp = UdpDatagramView::parse(datagram, length);
        return udp && (ports.contains(udp->srcPort) || ports.contains(udp->dstPort));
    }
    const auto followed = [&](std::uint16_t port) {
        return ports.contains(port) ||
               (plain != nullptr && PlainResponseWatcher::isPlainHttp(port, *plain));
    };
    return followed(segment->srcPort) || followed(segment->dstPort);
}

bool SecureTrafficReader::read(const std::uint8_t* datagram, std::uint32_t length,
                               std::uint64_t nowMicros) {
    const std::optional<TcpSegmentView> segment = TcpSegmentView::parse(datagram, length);
    if (!segment) {
        return readQuic(datagram, length, nowMicros);
    }
    now_ = nowMicros;
    if (flows_->onSegment(*segment, datagram, length, nowMicros)) {
        return true;
    }
    if (plain_) {
        plain_->onSegment(*segment, datagram, length);
    }
    return false;
}

bool SecureTrafficReader::readQuic(const std::uint8_t* datagram, std::uint32_t length,
                                   std::uint64_t nowMicros) {
    const std::optional<UdpDatagramView> udp = UdpDatagramView::parse(datagram, length);
    if (!udp || (!ports_.contains(udp->srcPort) && !ports_.contains(udp->dstPort))) {
        return false;
    }
    if (!quic_) {
        quic_ = std::make_unique<QuicTrafficReader>(room_, *keys_, summary_);
        quicKeysSeen_ = keys_->generation();
    }
    quicKeysChanged();
    quic_->read(*udp, nowMicros);
    return true;
}

void SecureTrafficReader::quicKeysChanged() {
    if (quic_ && keys_->generation() != quicKeysSeen_) {
        quicKeysSeen_ = keys_->generation();
        quic_->keysChanged();
    }
}

void SecureTrafficReader::linger(std::unique_ptr<Session> session) {
    lingering_.push_back(std::move(session));
}

void SecureTrafficReader::tick(std::uint64_t nowMicros) {
    now_ = nowMicros;
    flows_->expireIdle(nowMicros);
    if (quic_) {
        quicKeysChanged();
        quic_->tick(nowMicros);
    }
    std::erase_if(lingering_, [this, nowMicros](const std::unique_ptr<Session>& session) {
        session->retryWithNewKeys();
        if (session->waiting() && nowMicros - session->lastPacket() < waiting_.micros) {
            return false;
        }
        session->giveUp();
        session->tally(false);
        return true;
    });
}

void SecureTrafficReader::finish() {
    if (flows_) {
        flows_->endAll();
    }
    if (quic_) {
        quic_->finish();
        quic_.reset();
    }
    for (const std::unique_ptr<Session>& session : lingering_) {
        session->retryWithNewKeys();
        session->giveUp();
        session->tally(false);
    }
    lingering_.clear();
}

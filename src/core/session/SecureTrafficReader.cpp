#include "core/session/SecureTrafficReader.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <span>
#include <string_view>

#include "core/capture/NetworkBytes.h"
#include "core/flow/FlowConsumer.h"
#include "core/flow/TcpSegmentView.h"
#include "core/http/Http1Connection.h"
#include "core/http/Http2Connection.h"
#include "core/http/HttpMessageSink.h"
#include "core/tls/TlsConnection.h"

namespace {

// Enough of a datagram for its IP header (with options or extension headers) and TCP header.
constexpr std::size_t kHeadersKept = 256;

// A request of either HTTP version written as HTTP/1.1 text, the form the decoder reads.
void writeRequestText(const HttpRequestHead& request, std::string_view serverName,
                      std::string& out) {
    out.clear();
    out.append(request.method.empty() ? "GET" : request.method).append(" ");
    out.append(request.path).append(" HTTP/1.1\r\n");
    // A request of HTTP/1.0 may lack a Host header; the server name of the handshake is the
    // host the client asked for.
    out.append("Host: ").append(request.authority.empty() ? serverName : request.authority);
    out.append("\r\n");
    const std::pair<std::string_view, const std::string*> context[] = {
        {"Referer", &request.referer},
        {"User-Agent", &request.userAgent},
        {"Cookie", &request.cookie}};
    for (const auto& [name, value] : context) {
        if (!value->empty()) {
            out.append(name).append(": ").append(*value).append("\r\n");
        }
    }
    out.append("\r\n");
}

}  // namespace

std::uint64_t SecureTrafficReader::Summary::withoutKeysCount() const {
    std::uint64_t count = 0;
    for (const auto& [name, connections] : withoutKeys) {
        count += connections;
    }
    return count;
}

// One followed connection: its TLS, then the HTTP that its protocol names.
class SecureTrafficReader::Connection final : public FlowConsumer,
                                              private TlsPlaintextSink,
                                              private HttpMessageSink {
  public:
    explicit Connection(SecureTrafficReader& reader)
        : reader_(reader), keysSeen_(reader.keys_->generation()) {}

    bool onBytes(FlowDirection direction, std::span<const std::uint8_t> bytes,
                 const std::uint8_t* datagram, std::uint32_t length) override {
        keepHeaders(datagram, length);
        KeyLog& keys = *reader_.keys_;
        if (tls_.state() == TlsConnection::State::WaitingForKeys &&
            keys.generation() != keysSeen_) {
            keysSeen_ = keys.generation();
            tls_.retry(keys, *this);
        }
        tls_.feed(direction == FlowDirection::ToServer, bytes, keys, *this);
        return stillReadable();
    }

    void onEnd(FlowEnd why) override {
        SecureTrafficReader::Summary& summary = reader_.summary_;
        switch (tls_.state()) {
            case TlsConnection::State::Decrypting:
                ++summary.connections;
                ++(readFailed() || why == FlowEnd::Gap || why == FlowEnd::HeldTooMuch
                       ? summary.failed
                       : summary.decrypted);
                break;
            case TlsConnection::State::WaitingForKeys:
            case TlsConnection::State::NoKeys:
                ++summary.connections;
                ++summary.withoutKeys[std::string(tls_.serverName())];
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
    void keepHeaders(const std::uint8_t* datagram, std::uint32_t length) {
        headersLength_ = std::min<std::size_t>(length, kHeadersKept);
        std::memcpy(headers_.data(), datagram, headersLength_);
    }

    bool readFailed() const { return (http1_ && http1_->failed()) || (http2_ && http2_->failed()); }

    bool stillReadable() const {
        const TlsConnection::State state = tls_.state();
        return state != TlsConnection::State::NotTls && state != TlsConnection::State::Failed &&
               state != TlsConnection::State::NoKeys && !readFailed();
    }

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
        writeRequestText(request, tls_.serverName(), reader_.requestText_);
        DetectedStream& head = *reader_.head_;
        StreamFields fields;
        if (reader_.decoder_.decodeSecureRequest(headers_.data(),
                                                 static_cast<std::uint32_t>(headersLength_),
                                                 reader_.requestText_, head, fields) == 0) {
            reader_.found_(fields);
        }
    }

    void onResponse(const HttpResponseHead&) override {}

    SecureTrafficReader& reader_;
    TlsConnection tls_;
    std::uint64_t keysSeen_;
    std::optional<Http1Connection> http1_;
    std::optional<Http2Connection> http2_;
    std::array<std::uint8_t, kHeadersKept> headers_{};
    std::size_t headersLength_ = 0;
};

SecureTrafficReader::SecureTrafficReader(const StreamDecoder& decoder, std::shared_ptr<KeyLog> keys,
                                         const TlsPorts& ports, Found found)
    : decoder_(decoder),
      keys_(std::move(keys)),
      ports_(ports),
      found_(std::move(found)),
      head_(std::make_unique<DetectedStream>()) {
    flows_ = std::make_unique<TcpFlowTable>(
        TcpFlowTable::Limits{}, [this](std::uint16_t port) { return ports_.contains(port); },
        [this](const FlowInfo&) -> std::unique_ptr<FlowConsumer> {
            return std::make_unique<Connection>(*this);
        });
}

SecureTrafficReader::~SecureTrafficReader() {
    finish();
}

bool SecureTrafficReader::isSecure(const std::uint8_t* datagram, std::uint32_t length,
                                   const TlsPorts& ports) {
    std::optional<TcpSegmentView> segment = TcpSegmentView::parse(datagram, length);
    return segment && (ports.contains(segment->srcPort) || ports.contains(segment->dstPort));
}

bool SecureTrafficReader::read(const std::uint8_t* datagram, std::uint32_t length,
                               std::uint64_t nowMicros) {
    return flows_->onDatagram(datagram, length, nowMicros);
}

void SecureTrafficReader::finish() {
    if (flows_) {
        flows_->endAll();
    }
}

#include "core/session/QuicTrafficReader.h"

#include <array>
#include <cstring>
#include <span>
#include <string>

#include "core/capture/NetworkBytes.h"
#include "core/http/Http3Connection.h"
#include "core/http/HttpMessageSink.h"
#include "core/quic/QuicConnectionTable.h"
#include "core/quic/QuicConsumer.h"
#include "core/quic/QuicDatagram.h"
#include "core/tls/ClientHello.h"

namespace {

constexpr std::uint8_t kUdp = 17;
constexpr std::size_t kIpv4Header = 20;
constexpr std::size_t kIpv6Header = 40;
// The decoder reads a transport header of TCP's size; behind the UDP ports it is zero.
constexpr std::size_t kTransportBytes = 20;

void putBe16(std::uint8_t* at, std::uint16_t value) {
    at[0] = static_cast<std::uint8_t>(value >> 8);
    at[1] = static_cast<std::uint8_t>(value);
}

// The headers a row of this connection gets: its addresses and ports, client to server, as
// an IP datagram carrying UDP.
std::size_t writeConnectionHeaders(const FlowInfo& info, std::span<std::uint8_t> out) {
    std::fill(out.begin(), out.end(), 0);
    std::size_t ip = 0;
    if (info.ipv6) {
        ip = kIpv6Header;
        out[0] = 0x60;
        putBe16(&out[4], kTransportBytes);
        out[6] = kUdp;
        out[7] = 64;
        std::memcpy(&out[8], info.clientAddr.data(), 16);
        std::memcpy(&out[24], info.serverAddr.data(), 16);
    } else {
        ip = kIpv4Header;
        out[0] = 0x45;
        putBe16(&out[2], kIpv4Header + kTransportBytes);
        out[8] = 64;
        out[9] = kUdp;
        std::memcpy(&out[12], info.clientAddr.data(), 4);
        std::memcpy(&out[16], info.serverAddr.data(), 4);
    }
    putBe16(&out[ip], info.clientPort);
    putBe16(&out[ip + 2], info.serverPort);
    return ip + kTransportBytes;
}

QuicDatagram quicDatagramOf(const UdpDatagramView& udp, std::uint64_t nowMicros) {
    QuicDatagram datagram;
    datagram.ipv6 = udp.ipv6;
    const std::size_t addressBytes = udp.ipv6 ? 16 : 4;
    std::memcpy(datagram.sourceAddr.data(), udp.srcAddr, addressBytes);
    std::memcpy(datagram.destinationAddr.data(), udp.dstAddr, addressBytes);
    datagram.sourcePort = udp.srcPort;
    datagram.destinationPort = udp.dstPort;
    datagram.payload = std::span(udp.payload, udp.payloadLength);
    datagram.micros = nowMicros;
    return datagram;
}

}  // namespace

// One followed QUIC connection: its server name, and the HTTP/3 on its streams.
class QuicTrafficReader::Connection final : public QuicConsumer, private HttpMessageSink {
  public:
    Connection(QuicTrafficReader& reader, const FlowInfo& info)
        : reader_(reader), requests_(reader.room_) {
        headersLength_ = writeConnectionHeaders(info, headers_);
    }

    bool onHello(const ClientHello& hello) override {
        serverName_ = hello.serverName;
        return true;
    }
    void onAlpn(std::string_view protocol) override { http3_ = protocol == "h3"; }

    bool onStreamBytes(std::uint64_t stream, bool fromClient, std::span<const std::uint8_t> bytes,
                       bool fin) override {
        keysWorked_ = true;
        if (!http3_) {
            return false;  // another protocol over QUIC: nothing of ours
        }
        http3Reader_.feed(stream, fromClient, bytes, fin, *this);
        return !http3Reader_.failed();
    }
    void onStreamAbort(std::uint64_t stream, bool fromClient) override {
        http3Reader_.abort(stream, fromClient);
    }

    void onEnd(QuicEnd why) override {
        SecureTrafficReader::Summary& summary = reader_.summary_;
        ++summary.connections;
        switch (why) {
            case QuicEnd::NoKeys:
                summary.countWithoutKeys(serverName_);
                break;
            case QuicEnd::Unreadable:
            case QuicEnd::Evicted:
                ++summary.failed;
                break;
            case QuicEnd::GivenUp:
                ++(http3Reader_.failed() ? summary.failed : summary.decrypted);
                break;
            case QuicEnd::Closed:
            case QuicEnd::Idle:
            case QuicEnd::Shutdown:
                ++(keysWorked_ ? summary.decrypted : summary.failed);
                break;
        }
    }

  private:
    void onRequest(const HttpRequestHead& request) override {
        requests_.onRequest(request, std::span(headers_.data(), headersLength_), connection());
    }
    void onResponse(const HttpResponseHead& response) override {
        requests_.onResponse(response, connection());
    }
    FollowedRequests::Connection connection() const { return {"3", serverName_}; }

    QuicTrafficReader& reader_;
    std::array<std::uint8_t, kIpv6Header + kTransportBytes> headers_{};
    std::size_t headersLength_ = 0;
    std::string serverName_;
    bool http3_ = false;
    bool keysWorked_ = false;
    Http3Connection http3Reader_;
    FollowedRequests requests_;
};

QuicTrafficReader::QuicTrafficReader(FollowedRequests::Room room, KeyLog& keys,
                                     SecureTrafficReader::Summary& summary)
    : room_(room), summary_(summary) {
    table_ = std::make_unique<QuicConnectionTable>(
        QuicConnectionTable::Limits{}, keys,
        [this](const FlowInfo& info) -> std::unique_ptr<QuicConsumer> {
            return std::make_unique<Connection>(*this, info);
        });
}

QuicTrafficReader::~QuicTrafficReader() {
    finish();
}

void QuicTrafficReader::read(const UdpDatagramView& datagram, std::uint64_t nowMicros) {
    if (!datagram.truncated) {  // a packet cut short cannot authenticate
        table_->onDatagram(quicDatagramOf(datagram, nowMicros));
    }
}

void QuicTrafficReader::keysChanged() {
    table_->retry();
}

void QuicTrafficReader::tick(std::uint64_t nowMicros) {
    table_->expireIdle(nowMicros);
}

void QuicTrafficReader::finish() {
    if (table_) {
        table_->retry();
        table_->endAll();
    }
}

#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "core/quic/QuicEnd.h"
#include "core/tls/ClientHello.h"

// Receives what one followed QUIC connection carries. Calls come from inside the table's
// onDatagram/retry/expire calls; a consumer must not call back into the table.
class QuicConsumer {
  public:
    virtual ~QuicConsumer() = default;

    // The client's hello was read (server name, ALPN offers, client random). False: stop
    // following the connection (it ends with GivenUp).
    virtual bool onHello(const ClientHello& /*hello*/) { return true; }
    // The protocol the server chose, read from its handshake with the key log's secrets.
    virtual void onAlpn(std::string_view /*protocol*/) {}
    // The next bytes of one stream in one direction, in order; `fin`: its last byte is in them
    // (`bytes` may then be empty). False: stop following the connection (GivenUp).
    virtual bool onStreamBytes(std::uint64_t stream, bool fromClient,
                               std::span<const std::uint8_t> bytes, bool fin) = 0;
    // The stream's bytes in this direction stop short: reset by its sender, or lost for good.
    virtual void onStreamAbort(std::uint64_t /*stream*/, bool /*fromClient*/) {}
    // Called exactly once, then the consumer is destroyed.
    virtual void onEnd(QuicEnd why) = 0;
};

#pragma once

#include <cstdint>
#include <memory>

#include "core/flow/UdpDatagramView.h"
#include "core/session/FollowedRequests.h"
#include "core/session/SecureTrafficReader.h"
#include "core/tls/KeyLog.h"

class QuicConnectionTable;

// Reads the media requests of HTTP/3 over QUIC on the TLS ports: each connection's server name
// from its Initial packets (no keys needed), its streams with the key log's secrets, and the
// requests on them listed as https rows of HTTP version 3. Used from the thread that reads the
// capture, as the reader that owns it.
class QuicTrafficReader {
  public:
    QuicTrafficReader(FollowedRequests::Room room, KeyLog& keys,
                      SecureTrafficReader::Summary& summary);
    ~QuicTrafficReader();

    QuicTrafficReader(const QuicTrafficReader&) = delete;
    QuicTrafficReader& operator=(const QuicTrafficReader&) = delete;

    // One UDP datagram on a TLS port at `nowMicros` (monotonic).
    void read(const UdpDatagramView& datagram, std::uint64_t nowMicros);
    // The key log got new lines: packets waiting for keys are read again.
    void keysChanged();
    // Now and then while reading: idle connections end.
    void tick(std::uint64_t nowMicros);
    // The end of the input: every connection ends and is counted.
    void finish();

  private:
    class Connection;

    FollowedRequests::Room room_;
    SecureTrafficReader::Summary& summary_;
    std::unique_ptr<QuicConnectionTable> table_;
};

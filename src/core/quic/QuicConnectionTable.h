#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <list>
#include <memory>
#include <optional>
#include <span>
#include <unordered_map>

#include "core/flow/FlowInfo.h"
#include "core/quic/QuicConnection.h"
#include "core/quic/QuicConnectionId.h"
#include "core/quic/QuicConsumer.h"
#include "core/quic/QuicDatagram.h"
#include "core/quic/QuicHeldBudget.h"
#include "core/tls/KeyLog.h"

// Follows the QUIC connections in captured UDP datagrams and hands each one's stream bytes, in
// order, to a consumer of its own. Everything it keeps is bounded; it goes by the capture's
// timestamps, never the clock. Used from one thread.
//
// Driving it: build it with the key log and a factory; pass every UDP datagram on the watched
// ports (usually 443) to onDatagram() with its addresses, ports and capture time; call retry()
// when the key log got new lines (KeyLog::generation() changed) and expireIdle() now and then
// when no datagram comes; endAll() at the end of the input. A connection is followed from its
// client's first Initial packet on (one under way when the capture started is not). Its
// consumer hears onHello (server name, ALPN offers), onAlpn, then onStreamBytes per stream and
// direction: an HTTP/3 reader takes the client's bidirectional streams as requests and
// responses and the unidirectional ones as control and QPACK streams. onEnd says how it
// ended: NoKeys when the key log never opened its protected packets.
class QuicConnectionTable {
  public:
    struct Limits {
        std::size_t connections = 4096;         // followed at once; the least recently active goes
        std::uint64_t idleMicros = 60'000'000;  // no packet for this long ends a connection
        std::size_t idsPerConnection = 16;      // connection IDs indexed per connection
        std::size_t heldTotal = 64 << 20;       // bytes held out of order or for keys, in all
        QuicConnection::Limits connection;
    };

    // Decides whether a new connection is followed: null means its packets are only recognised
    // and skipped; else the consumer that gets what it carries.
    using ConsumerFactory = std::function<std::unique_ptr<QuicConsumer>(const FlowInfo&)>;

    struct Counters {
        std::uint64_t datagrams = 0;       // handed to onDatagram
        std::uint64_t unrecognised = 0;    // of which no packet belonged to a connection
        std::uint64_t connections = 0;     // connections started
        std::uint64_t packetsOpened = 0;   // packets of ended connections opened
        std::uint64_t packetsDropped = 0;  // and packets that did not authenticate
        std::uint64_t evicted = 0;         // connections ended because the table was full
        std::uint64_t keyUpdates = 0;      // 1-RTT key changes read in ended connections
    };

    QuicConnectionTable(Limits limits, KeyLog& keys, ConsumerFactory factory);
    ~QuicConnectionTable();  // ends every connection with Shutdown
    QuicConnectionTable(const QuicConnectionTable&) = delete;
    QuicConnectionTable& operator=(const QuicConnectionTable&) = delete;

    // One UDP datagram. False when it held no packet of a connection followed or started here.
    bool onDatagram(const QuicDatagram& datagram);
    // The key log has new lines: connections whose packets wait for keys read them again.
    void retry();
    // Ends connections idle since before nowMicros - idleMicros (onDatagram does this too).
    void expireIdle(std::uint64_t nowMicros);
    // Ends every connection with Shutdown.
    void endAll();

    std::size_t connectionCount() const { return slots_.size(); }
    std::size_t bytesHeld() const { return budget_.used; }
    Counters counters() const { return counters_; }

  private:
    struct Slot {
        std::unique_ptr<QuicConnection> connection;
        FlowInfo info;
        std::uint64_t lastMicros = 0;
        // IDs indexed for this connection, oldest first: those naming the server, the client.
        std::array<std::deque<QuicConnectionId>, 2> ids;
        bool ownsClientEndpoint = false;  // it is the one found by its client's address
    };
    using SlotList = std::list<Slot>;
    // Where an ID in a packet's Destination Connection ID field leads.
    struct Route {
        SlotList::iterator slot;
        bool toClient = false;
    };
    // A client's address and port.
    struct Endpoint {
        std::array<std::uint8_t, 16> addr{};
        std::uint16_t port = 0;
        bool operator==(const Endpoint&) const = default;
    };
    struct EndpointHash {
        std::uint64_t seed = 0;
        std::size_t operator()(const Endpoint& endpoint) const;
    };

    bool readPacket(const QuicDatagram& datagram, std::span<const std::uint8_t>& rest,
                    bool& recognised);
    std::optional<Route> routeLong(const QuicDatagram& datagram, const QuicPacketHeader& header);
    std::optional<Route> routeShort(const QuicDatagram& datagram,
                                    std::span<const std::uint8_t> bytes, QuicPacketHeader& header);
    std::optional<Route> routeByAddress(const QuicDatagram& datagram,
                                        std::span<const std::uint8_t> bytes,
                                        QuicPacketHeader& header);
    bool startConnection(const QuicDatagram& datagram, const QuicPacketHeader& header,
                         std::span<const std::uint8_t> packet);
    void afterPacket(SlotList::iterator slot);
    void index(SlotList::iterator slot, const QuicConnectionId& id, bool toClient);
    void remove(SlotList::iterator slot, QuicEnd why);
    static Endpoint endpointOf(const std::array<std::uint8_t, 16>& addr, std::uint16_t port);
    void touch(SlotList::iterator slot, std::uint64_t micros);

    Limits limits_;
    KeyLog& keys_;
    ConsumerFactory factory_;
    QuicHeldBudget budget_;
    SlotList slots_;  // least recently active first
    std::unordered_map<QuicConnectionId, Route, QuicConnectionId::Hash> routes_;
    // Connections by their client's address, for packets whose ID is empty (a client that
    // chose none) or not known yet (a NEW_CONNECTION_ID not read for want of keys).
    std::unordered_map<Endpoint, SlotList::iterator, EndpointHash> clients_;
    // How many indexed IDs have each length: a short header's ID is looked up at those lengths.
    std::array<std::size_t, QuicConnectionId::kMaxLength + 1> idLengths_{};
    Counters counters_;
};

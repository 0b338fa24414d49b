#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <unordered_map>

#include "core/flow/FlowConsumer.h"
#include "core/flow/FlowInfo.h"
#include "core/flow/FlowKey.h"
#include "core/flow/TcpConnection.h"
#include "core/flow/TcpSegmentView.h"

// Follows the TCP connections on watched ports and hands each direction's bytes, in order, to a
// consumer per connection. Everything it keeps is bounded. Used from one thread.
class TcpFlowTable {
  public:
    struct Limits {
        std::size_t heldPerConnection = 1 << 20;  // out-of-order bytes held, per connection
        std::size_t heldTotal = 64 << 20;         // and in all
        // 4-tuples tracked at once, followed or not; the least recently active goes.
        std::size_t connections = 16384;
        std::uint64_t idleMicros = 60'000'000;  // no packet for this long ends a connection
    };

    // Decides whether a new connection is followed: null means not (it is then not looked at
    // again until a new SYN), else the consumer that gets its bytes.
    using ConsumerFactory = std::function<std::unique_ptr<FlowConsumer>(const FlowInfo&)>;

    struct Counters {
        std::uint64_t followed = 0, closed = 0, idle = 0, gap = 0, heldTooMuch = 0, tableFull = 0,
                      givenUp = 0;
        std::uint64_t directionGaps = 0;  // directions closed after a loss, the connection going on
    };

    // `isServerPort`: the watched ports; the side using one is the server unless a SYN says
    // otherwise.
    TcpFlowTable(Limits limits, std::function<bool(std::uint16_t)> isServerPort,
                 ConsumerFactory factory);
    ~TcpFlowTable();  // ends every connection with Shutdown

    TcpFlowTable(const TcpFlowTable&) = delete;
    TcpFlowTable& operator=(const TcpFlowTable&) = delete;

    // A connection first seen without its SYN (the capture started after it) is looked at only
    // when this accepts its first segment; segments it refuses cost no entry. All are taken
    // unless set.
    using MidwayStart = std::function<bool(const TcpSegmentView& segment)>;
    void setMidwayStart(MidwayStart accept) { midwayStart_ = std::move(accept); }

    // One captured datagram at time `nowMicros` (monotonic, from the packet or the clock). False
    // when it is not a TCP segment on a watched port.
    bool onDatagram(const std::uint8_t* datagram, std::uint32_t length, std::uint64_t nowMicros);
    // The same for a datagram whose segment the caller has parsed already.
    bool onSegment(const TcpSegmentView& segment, const std::uint8_t* datagram,
                   std::uint32_t length, std::uint64_t nowMicros);

    // Ends connections idle since before nowMicros - idleMicros (onDatagram does this too).
    void expireIdle(std::uint64_t nowMicros);

    // Ends every connection with Shutdown and forgets every 4-tuple.
    void endAll();

    Counters counters() const { return counters_; }
    // Connections followed now.
    std::size_t connectionCount() const { return followedNow_; }
    // Memory charged for out-of-order bytes held in all: the bytes plus a fixed charge per piece.
    std::size_t bytesHeld() const { return heldTotal_; }

  private:
    // The packet in hand while a connection is followed.
    struct Arrival {
        const TcpSegmentView& segment;
        FlowDirection direction;
        const std::uint8_t* datagram;
        std::uint32_t length;
    };

    TcpConnection* lookUp(const FlowKey& key);
    TcpConnection& open(const FlowKey& key);
    void begin(TcpConnection& connection, const TcpSegmentView& segment, bool senderFirst);
    bool startsAnew(const TcpConnection& connection, const TcpSegmentView& segment,
                    FlowDirection direction) const;
    void noteStart(TcpConnection& connection, const TcpSegmentView& segment,
                   FlowDirection direction);

    void follow(TcpConnection& connection, const Arrival& arrival);
    std::optional<FlowEnd> takePayload(TcpConnection& connection, const Arrival& arrival);
    std::optional<FlowEnd> hold(TcpConnection& connection, FlowSide& side, std::uint32_t ahead,
                                std::span<const std::uint8_t> bytes);
    std::optional<FlowEnd> releaseHeld(TcpConnection& connection, const Arrival& arrival);
    bool deliver(TcpConnection& connection, const Arrival& arrival,
                 std::span<const std::uint8_t> bytes);
    std::optional<FlowEnd> takeCut(TcpConnection& connection, const Arrival& arrival);
    std::optional<FlowEnd> takeFin(TcpConnection& connection, FlowDirection direction,
                                   std::uint32_t finSeq);
    std::optional<FlowEnd> ackedUnseen(TcpConnection& connection, const Arrival& arrival);
    std::optional<FlowEnd> lose(TcpConnection& connection, FlowDirection direction);
    void dropHeld(TcpConnection& connection, FlowSide& side);
    static bool holdsBytes(const TcpConnection& connection);
    static FlowEnd resetEnd(const TcpConnection& connection, const FlowSide& sender,
                            std::uint32_t seq);

    void end(TcpConnection& connection, FlowEnd why);
    void remove(TcpConnection& connection, FlowEnd why);
    void count(FlowEnd why);
    void touch(TcpConnection& connection, std::uint64_t nowMicros);
    void link(TcpConnection& connection);
    void unlink(TcpConnection& connection);
    bool isIdle(const TcpConnection& connection, std::uint64_t nowMicros) const;

    Limits limits_;
    std::function<bool(std::uint16_t)> isServerPort_;
    ConsumerFactory factory_;
    MidwayStart midwayStart_;
    std::unordered_map<FlowKey, TcpConnection, FlowKey::Hash> connections_;
    TcpConnection* lastFound_ = nullptr;  // a cache of lookUp(); never a removed one
    TcpConnection* oldest_ = nullptr;
    TcpConnection* newest_ = nullptr;
    Counters counters_;
    std::size_t followedNow_ = 0;
    std::size_t heldTotal_ = 0;
};

#include "core/flow/TcpFlowTable.h"

#include <algorithm>
#include <random>
#include <utility>

#include "core/flow/SequenceNumbers.h"

namespace {

FlowDirection opposite(FlowDirection direction) {
    return direction == FlowDirection::ToServer ? FlowDirection::ToClient : FlowDirection::ToServer;
}

FlowDirection directionOf(const TcpConnection& connection, bool senderFirst) {
    return senderFirst == connection.clientFirst ? FlowDirection::ToServer
                                                 : FlowDirection::ToClient;
}

std::uint64_t randomSeed() {
    std::random_device device;
    return std::uint64_t{device()} << 32 | device();
}

void copyAddress(std::array<std::uint8_t, 16>& to, const std::uint8_t* from, bool ipv6) {
    std::copy_n(from, ipv6 ? 16 : 4, to.begin());
}

// The sequence number of a segment's first data byte: a SYN takes one number of its own.
std::uint32_t dataSeq(const TcpSegmentView& segment) {
    return segment.seq + (segment.has(TcpSegmentView::kSyn) ? 1 : 0);
}

}  // namespace

TcpFlowTable::TcpFlowTable(Limits limits, std::function<bool(std::uint16_t)> isServerPort,
                           ConsumerFactory factory)
    : limits_(limits),
      isServerPort_(std::move(isServerPort)),
      factory_(std::move(factory)),
      connections_(0, FlowKey::Hash{randomSeed()}) {
    limits_.connections = std::max<std::size_t>(limits_.connections, 1);
}

TcpFlowTable::~TcpFlowTable() {
    endAll();
}

bool TcpFlowTable::onDatagram(const std::uint8_t* datagram, std::uint32_t length,
                              std::uint64_t nowMicros) {
    const std::optional<TcpSegmentView> segment = TcpSegmentView::parse(datagram, length);
    return segment && onSegment(*segment, datagram, length, nowMicros);
}

bool TcpFlowTable::onSegment(const TcpSegmentView& segment, const std::uint8_t* datagram,
                             std::uint32_t length, std::uint64_t nowMicros) {
    if (!isServerPort_(segment.dstPort) && !isServerPort_(segment.srcPort)) {
        return false;
    }
    expireIdle(nowMicros);
    bool senderFirst = false;
    const FlowKey key = FlowKey::of(segment, senderFirst);
    TcpConnection* connection = lookUp(key);
    if (connection != nullptr) {
        if (startsAnew(*connection, segment, directionOf(*connection, senderFirst))) {
            // The 4-tuple is used again: what was followed on it is over.
            if (connection->consumer) {
                end(*connection, holdsBytes(*connection) ? FlowEnd::Gap : FlowEnd::Closed);
            }
            begin(*connection, segment, senderFirst);
        }
    } else {
        if (segment.has(TcpSegmentView::kRst) ||
            (!segment.has(TcpSegmentView::kSyn) && midwayStart_ && !midwayStart_(segment))) {
            return true;  // nothing to follow
        }
        connection = &open(key);
        begin(*connection, segment, senderFirst);
    }
    touch(*connection, nowMicros);
    const FlowDirection direction = directionOf(*connection, senderFirst);
    noteStart(*connection, segment, direction);
    if (connection->consumer) {
        follow(*connection, Arrival{segment, direction, datagram, length});
    }
    return true;
}

TcpConnection& TcpFlowTable::open(const FlowKey& key) {
    if (connections_.size() >= limits_.connections) {
        remove(*oldest_, FlowEnd::TableFull);
    }
    TcpConnection& connection = connections_.try_emplace(key).first->second;
    connection.key = key;
    link(connection);
    return connection;
}

// Who is the client: the sender of a SYN, the receiver of a SYN-ACK, else the side not on a
// watched port (the receiver when both are).
void TcpFlowTable::begin(TcpConnection& connection, const TcpSegmentView& segment,
                         bool senderFirst) {
    const bool senderIsClient = segment.has(TcpSegmentView::kSyn)
                                    ? !segment.has(TcpSegmentView::kAck)
                                    : isServerPort_(segment.dstPort);
    connection.clientFirst = senderIsClient == senderFirst;
    connection.sides[0] = FlowSide{};
    connection.sides[1] = FlowSide{};
    FlowInfo& info = connection.info;
    info = FlowInfo{};
    info.ipv6 = segment.ipv6;
    copyAddress(info.clientAddr, senderIsClient ? segment.srcAddr : segment.dstAddr, segment.ipv6);
    copyAddress(info.serverAddr, senderIsClient ? segment.dstAddr : segment.srcAddr, segment.ipv6);
    info.clientPort = senderIsClient ? segment.srcPort : segment.dstPort;
    info.serverPort = senderIsClient ? segment.dstPort : segment.srcPort;
    connection.consumer = factory_(info);
    if (connection.consumer) {
        ++counters_.followed;
        ++followedNow_;
    }
}

// A SYN from a client starts a new connection unless it repeats the one that started this one.
bool TcpFlowTable::startsAnew(const TcpConnection& connection, const TcpSegmentView& segment,
                              FlowDirection direction) const {
    if (!segment.has(TcpSegmentView::kSyn) || segment.has(TcpSegmentView::kAck)) {
        return false;
    }
    const FlowSide& client = connection.side(FlowDirection::ToServer);
    return direction != FlowDirection::ToServer || !client.started ||
           client.startSeq != dataSeq(segment);
}

// A direction starts at its SYN, or (picked up mid-way) at its first segment. A SYN-ACK also
// tells where the client's bytes start.
void TcpFlowTable::noteStart(TcpConnection& connection, const TcpSegmentView& segment,
                             FlowDirection direction) {
    if (segment.has(TcpSegmentView::kRst)) {
        return;
    }
    FlowSide& sender = connection.side(direction);
    if (!sender.started) {
        sender.start(dataSeq(segment));
    }
    FlowSide& receiver = connection.side(opposite(direction));
    if (segment.has(TcpSegmentView::kSyn) && segment.has(TcpSegmentView::kAck) &&
        !receiver.started) {
        receiver.start(segment.ack);
    }
}

void TcpFlowTable::follow(TcpConnection& connection, const Arrival& arrival) {
    const TcpSegmentView& segment = arrival.segment;
    if (segment.has(TcpSegmentView::kRst)) {
        end(connection, resetEnd(connection, connection.side(arrival.direction), segment.seq));
        return;
    }
    std::optional<FlowEnd> why = takePayload(connection, arrival);
    if (!why && segment.truncated()) {
        why = takeCut(connection, arrival);
    }
    if (!why && segment.has(TcpSegmentView::kFin)) {
        const std::uint32_t finSeq = dataSeq(segment) + segment.payloadLength + segment.cutLength;
        why = takeFin(connection, arrival.direction, finSeq);
    }
    if (!why) {
        why = ackedUnseen(connection, arrival);
    }
    if (!why && connection.sides[0].finished && connection.sides[1].finished) {
        why = FlowEnd::Closed;
    }
    if (why) {
        end(connection, *why);
    }
}

std::optional<FlowEnd> TcpFlowTable::takePayload(TcpConnection& connection,
                                                 const Arrival& arrival) {
    const TcpSegmentView& segment = arrival.segment;
    FlowSide& side = connection.side(arrival.direction);
    if (segment.payloadLength == 0 || side.finished || side.lost) {
        return std::nullopt;  // nothing comes after a FIN, nor after a loss
    }
    const std::span<const std::uint8_t> bytes(segment.payload, segment.payloadLength);
    const std::uint32_t seq = dataSeq(segment);
    if (const std::uint32_t ahead = sequenceAhead(seq, side.nextSeq); ahead != 0) {
        return hold(connection, side, ahead, bytes);
    }
    // Bytes already delivered or held are not taken again: the first copy wins. The rest goes
    // straight from the datagram, so that the common case copies nothing.
    for (std::uint32_t behind = side.nextSeq - seq; behind < bytes.size();
         behind = side.nextSeq - seq) {
        std::span<const std::uint8_t> fresh = bytes.subspan(behind);
        if (!side.held.empty()) {
            fresh = fresh.first(static_cast<std::size_t>(
                std::min<std::uint64_t>(fresh.size(), side.held.firstOffset() - side.delivered)));
        }
        side.advance(static_cast<std::uint32_t>(fresh.size()));
        if (!deliver(connection, arrival, fresh)) {
            return FlowEnd::GivenUp;
        }
        if (std::optional<FlowEnd> why = releaseHeld(connection, arrival)) {
            return why;
        }
    }
    return std::nullopt;
}

std::optional<FlowEnd> TcpFlowTable::hold(TcpConnection& connection, FlowSide& side,
                                          std::uint32_t ahead,
                                          std::span<const std::uint8_t> bytes) {
    const std::size_t room =
        std::min(limits_.heldPerConnection - connection.heldCharge, limits_.heldTotal - heldTotal_);
    const std::optional<std::size_t> added = side.held.hold(side.delivered + ahead, bytes, room);
    if (!added) {
        return FlowEnd::HeldTooMuch;
    }
    connection.heldCharge += *added;
    heldTotal_ += *added;
    return std::nullopt;
}

std::optional<FlowEnd> TcpFlowTable::releaseHeld(TcpConnection& connection,
                                                 const Arrival& arrival) {
    FlowSide& side = connection.side(arrival.direction);
    if (side.held.empty()) {
        return std::nullopt;
    }
    const std::size_t chargeBefore = side.held.charge();
    const bool wanted = side.held.release(side.delivered, [&](std::span<const std::uint8_t> bytes) {
        side.nextSeq += static_cast<std::uint32_t>(bytes.size());
        return deliver(connection, arrival, bytes);
    });
    const std::size_t released = chargeBefore - side.held.charge();
    connection.heldCharge -= released;
    heldTotal_ -= released;
    return wanted ? std::nullopt : std::optional(FlowEnd::GivenUp);
}

bool TcpFlowTable::deliver(TcpConnection& connection, const Arrival& arrival,
                           std::span<const std::uint8_t> bytes) {
    return connection.consumer->onBytes(arrival.direction, bytes, arrival.datagram, arrival.length);
}

// The capture cut the segment short: its missing tail is lost, unless those bytes were delivered
// or are held already (the segment repeated them).
std::optional<FlowEnd> TcpFlowTable::takeCut(TcpConnection& connection, const Arrival& arrival) {
    const TcpSegmentView& segment = arrival.segment;
    const FlowSide& side = connection.side(arrival.direction);
    const std::uint32_t tailSeq = dataSeq(segment) + segment.payloadLength;
    const std::uint32_t tailEnd = tailSeq + segment.cutLength;
    if (side.finished || side.lost || !sequenceAfter(tailEnd, side.nextSeq)) {
        return std::nullopt;
    }
    const std::uint32_t missingSeq = sequenceAfter(tailSeq, side.nextSeq) ? tailSeq : side.nextSeq;
    const std::uint64_t missingOffset = side.delivered + (missingSeq - side.nextSeq);
    if (side.held.covers(missingOffset, tailEnd - missingSeq)) {
        return std::nullopt;
    }
    return lose(connection, arrival.direction);
}

// A FIN counts once every byte before it is delivered; one with a hole before it means bytes
// were lost. A FIN behind what was delivered is stale and ignored. A direction given up after a
// loss ends at its FIN, whatever came before it.
std::optional<FlowEnd> TcpFlowTable::takeFin(TcpConnection& connection, FlowDirection direction,
                                             std::uint32_t finSeq) {
    FlowSide& side = connection.side(direction);
    if (side.finished) {
        return std::nullopt;
    }
    if (!side.lost && sequenceAfter(finSeq, side.nextSeq)) {
        if (std::optional<FlowEnd> why = lose(connection, direction)) {
            return why;
        }
    }
    side.finished = side.lost || finSeq == side.nextSeq;
    return std::nullopt;
}

// The peer acknowledged a byte the capture never had: it was lost on the way to us.
std::optional<FlowEnd> TcpFlowTable::ackedUnseen(TcpConnection& connection,
                                                 const Arrival& arrival) {
    const FlowDirection acked = opposite(arrival.direction);
    const FlowSide& receiver = connection.side(acked);
    if (!arrival.segment.has(TcpSegmentView::kAck) || !receiver.started || receiver.lost ||
        !sequenceAfter(arrival.segment.ack, receiver.consumedThrough())) {
        return std::nullopt;
    }
    return lose(connection, acked);
}

// `direction` lost bytes for good. The consumer may keep the other direction going, unless that
// one was lost before: then nothing is left to deliver.
std::optional<FlowEnd> TcpFlowTable::lose(TcpConnection& connection, FlowDirection direction) {
    const bool keepOther = connection.consumer->onGap(direction);
    if (!keepOther || connection.side(opposite(direction)).lost) {
        return FlowEnd::Gap;
    }
    FlowSide& side = connection.side(direction);
    side.lost = true;
    dropHeld(connection, side);
    ++counters_.directionGaps;
    return std::nullopt;
}

void TcpFlowTable::dropHeld(TcpConnection& connection, FlowSide& side) {
    connection.heldCharge -= side.held.charge();
    heldTotal_ -= side.held.charge();
    side.held.clear();
}

bool TcpFlowTable::holdsBytes(const TcpConnection& connection) {
    return !connection.sides[0].held.empty() || !connection.sides[1].held.empty();
}

// A reset ends the connection: Closed when nothing is missing, Gap when bytes wait behind a hole
// or the reset lies beyond what its sender was seen to send (which no longer counts once that
// sender's bytes were given up).
FlowEnd TcpFlowTable::resetEnd(const TcpConnection& connection, const FlowSide& sender,
                               std::uint32_t seq) {
    const bool beyond =
        sender.started && !sender.lost && sequenceAfter(seq, sender.consumedThrough());
    return holdsBytes(connection) || beyond ? FlowEnd::Gap : FlowEnd::Closed;
}

void TcpFlowTable::end(TcpConnection& connection, FlowEnd why) {
    std::unique_ptr<FlowConsumer> consumer = std::move(connection.consumer);
    --followedNow_;
    dropHeld(connection, connection.sides[0]);
    dropHeld(connection, connection.sides[1]);
    count(why);
    consumer->onEnd(why);
}

// Segments come in runs of one connection: the last one found is asked first.
TcpConnection* TcpFlowTable::lookUp(const FlowKey& key) {
    if (lastFound_ != nullptr && lastFound_->key == key) {
        return lastFound_;
    }
    auto found = connections_.find(key);
    lastFound_ = found == connections_.end() ? nullptr : &found->second;
    return lastFound_;
}

void TcpFlowTable::remove(TcpConnection& connection, FlowEnd why) {
    if (connection.consumer) {
        end(connection, why);
    }
    if (lastFound_ == &connection) {
        lastFound_ = nullptr;
    }
    unlink(connection);
    const FlowKey key = connection.key;  // the entry's own key goes with it
    connections_.erase(key);
}

void TcpFlowTable::count(FlowEnd why) {
    switch (why) {
        case FlowEnd::Closed:
            ++counters_.closed;
            break;
        case FlowEnd::Idle:
            ++counters_.idle;
            break;
        case FlowEnd::Gap:
            ++counters_.gap;
            break;
        case FlowEnd::HeldTooMuch:
            ++counters_.heldTooMuch;
            break;
        case FlowEnd::TableFull:
            ++counters_.tableFull;
            break;
        case FlowEnd::GivenUp:
            ++counters_.givenUp;
            break;
        case FlowEnd::Shutdown:
            break;
    }
}

void TcpFlowTable::expireIdle(std::uint64_t nowMicros) {
    while (oldest_ != nullptr && isIdle(*oldest_, nowMicros)) {
        remove(*oldest_, FlowEnd::Idle);
    }
}

bool TcpFlowTable::isIdle(const TcpConnection& connection, std::uint64_t nowMicros) const {
    return nowMicros > limits_.idleMicros && connection.lastSeen < nowMicros - limits_.idleMicros;
}

void TcpFlowTable::endAll() {
    for (auto& [key, connection] : connections_) {
        if (connection.consumer) {
            end(connection, FlowEnd::Shutdown);
        }
    }
    connections_.clear();
    lastFound_ = nullptr;
    oldest_ = newest_ = nullptr;
}

void TcpFlowTable::touch(TcpConnection& connection, std::uint64_t nowMicros) {
    connection.lastSeen = nowMicros;
    if (newest_ != &connection) {
        unlink(connection);
        link(connection);
    }
}

void TcpFlowTable::link(TcpConnection& connection) {
    connection.older = newest_;
    connection.newer = nullptr;
    if (newest_ != nullptr) {
        newest_->newer = &connection;
    } else {
        oldest_ = &connection;
    }
    newest_ = &connection;
}

void TcpFlowTable::unlink(TcpConnection& connection) {
    (connection.older != nullptr ? connection.older->newer : oldest_) = connection.newer;
    (connection.newer != nullptr ? connection.newer->older : newest_) = connection.older;
    connection.older = connection.newer = nullptr;
}

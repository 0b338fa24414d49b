#include "core/quic/QuicConnectionTable.h"

#include <cstring>
#include <iterator>
#include <random>

namespace {

// The client's first Destination Connection ID is unpredictable and at least this long: anything
// shorter is no client's first Initial.
constexpr std::size_t kMinFirstDcid = 8;

std::uint64_t mixed(std::uint64_t h) {
    h ^= h >> 30;
    h *= 0xBF58476D1CE4E5B9ULL;
    h ^= h >> 27;
    h *= 0x94D049BB133111EBULL;
    return h ^ (h >> 31);
}

std::uint64_t randomSeed() {
    std::random_device device;
    return std::uint64_t{device()} << 32 | device();
}

}  // namespace

std::size_t QuicConnectionTable::EndpointHash::operator()(const Endpoint& endpoint) const {
    std::uint64_t words[2];
    std::memcpy(words, endpoint.addr.data(), sizeof words);
    return static_cast<std::size_t>(
        mixed(mixed(mixed(seed ^ words[0]) ^ words[1]) ^ endpoint.port));
}

QuicConnectionTable::QuicConnectionTable(Limits limits, KeyLog& keys, ConsumerFactory factory)
    : limits_(limits),
      keys_(keys),
      factory_(std::move(factory)),
      budget_{limits.heldTotal, 0},
      routes_(64, QuicConnectionId::Hash{randomSeed()}),
      clients_(64, EndpointHash{randomSeed()}) {}

QuicConnectionTable::~QuicConnectionTable() {
    endAll();
}

bool QuicConnectionTable::onDatagram(const QuicDatagram& datagram) {
    ++counters_.datagrams;
    expireIdle(datagram.micros);
    bool recognised = false;
    std::span<const std::uint8_t> rest = datagram.payload;
    while (!rest.empty() && readPacket(datagram, rest, recognised)) {
    }
    if (!recognised) {
        ++counters_.unrecognised;
    }
    return recognised;
}

// Reads the packet at the start of `rest` and moves past it; false when nothing after it can be
// found (a short header runs to the datagram's end).
bool QuicConnectionTable::readPacket(const QuicDatagram& datagram,
                                     std::span<const std::uint8_t>& rest, bool& recognised) {
    QuicPacketHeader header;
    std::optional<Route> route;
    if (QuicPacketHeader::isLongHeader(rest[0])) {
        if (QuicPacketHeader::parse(rest, 0, header) != QuicPacketHeader::Parse::Packet) {
            return false;
        }
        route = routeLong(datagram, header);
    } else if (!(route = routeShort(datagram, rest, header))) {
        return false;
    }
    std::span<const std::uint8_t> packet = rest.first(header.length);
    rest = rest.subspan(header.length);
    if (!route) {
        if (header.type == QuicPacketType::Initial && startConnection(datagram, header, packet)) {
            recognised = true;
        }
        return true;
    }
    recognised = true;
    SlotList::iterator slot = route->slot;
    const bool fromClient = !route->toClient;
    touch(slot, datagram.micros);
    // A long header's Source Connection ID is what its sender wants to be reached by; a Retry's
    // is where the client's next Initial goes.
    if (header.isLong()) {
        index(slot, header.scid, fromClient);
    }
    slot->connection->onPacket(header, packet, fromClient, keys_);
    afterPacket(slot);
    return true;
}

std::optional<QuicConnectionTable::Route> QuicConnectionTable::routeLong(
    const QuicDatagram& datagram, const QuicPacketHeader& header) {
    if (auto found = routes_.find(header.dcid); found != routes_.end()) {
        return found->second;
    }
    if (header.dcid.empty()) {
        auto client = clients_.find(endpointOf(datagram.destinationAddr, datagram.destinationPort));
        if (client != clients_.end() && client->second->ids[1].empty()) {
            return Route{client->second, true};
        }
    }
    return std::nullopt;
}

// A short header does not say how long its ID is: it is looked up at each length in use, then
// by the client's address.
std::optional<QuicConnectionTable::Route> QuicConnectionTable::routeShort(
    const QuicDatagram& datagram, std::span<const std::uint8_t> bytes, QuicPacketHeader& header) {
    for (std::size_t length = 1; length < idLengths_.size() && length < bytes.size(); ++length) {
        if (idLengths_[length] == 0) {
            continue;
        }
        auto found = routes_.find(*QuicConnectionId::of(bytes.subspan(1, length)));
        if (found != routes_.end() &&
            QuicPacketHeader::parse(bytes, length, header) == QuicPacketHeader::Parse::Packet) {
            return found->second;
        }
    }
    return routeByAddress(datagram, bytes, header);
}

// A packet to or from a known client's address: its ID is taken to be as long as the newest
// one its receiver gave (none: the client chose an empty one).
std::optional<QuicConnectionTable::Route> QuicConnectionTable::routeByAddress(
    const QuicDatagram& datagram, std::span<const std::uint8_t> bytes, QuicPacketHeader& header) {
    for (bool toClient : {true, false}) {
        auto client =
            toClient ? clients_.find(endpointOf(datagram.destinationAddr, datagram.destinationPort))
                     : clients_.find(endpointOf(datagram.sourceAddr, datagram.sourcePort));
        if (client == clients_.end()) {
            continue;
        }
        const std::deque<QuicConnectionId>& ids = client->second->ids[toClient ? 1 : 0];
        const std::size_t length = ids.empty() ? 0 : ids.back().length;
        if (QuicPacketHeader::parse(bytes, length, header) == QuicPacketHeader::Parse::Packet) {
            return Route{client->second, toClient};
        }
    }
    return std::nullopt;
}

// An Initial no connection knows may be a client's first: it is, when the keys its Destination
// Connection ID gives open it.
bool QuicConnectionTable::startConnection(const QuicDatagram& datagram,
                                          const QuicPacketHeader& header,
                                          std::span<const std::uint8_t> packet) {
    if (header.dcid.length < kMinFirstDcid) {
        return false;
    }
    auto connection =
        std::make_unique<QuicConnection>(limits_.connection, budget_, *header.version, header.dcid);
    if (!connection->start(header, packet)) {
        return false;
    }
    if (slots_.size() >= limits_.connections && !slots_.empty()) {
        ++counters_.evicted;
        remove(slots_.begin(), QuicEnd::Evicted);
    }
    FlowInfo info;
    info.ipv6 = datagram.ipv6;
    info.clientAddr = datagram.sourceAddr;
    info.serverAddr = datagram.destinationAddr;
    info.clientPort = datagram.sourcePort;
    info.serverPort = datagram.destinationPort;
    slots_.push_back(Slot{std::move(connection), info, datagram.micros, {}, false});
    SlotList::iterator slot = std::prev(slots_.end());
    ++counters_.connections;
    index(slot, header.dcid, false);
    index(slot, header.scid, true);
    slot->ownsClientEndpoint =
        clients_.try_emplace(endpointOf(datagram.sourceAddr, datagram.sourcePort), slot).second;
    slot->connection->follow(factory_ ? factory_(info) : nullptr);
    afterPacket(slot);
    return true;
}

void QuicConnectionTable::afterPacket(SlotList::iterator slot) {
    QuicConnection& connection = *slot->connection;
    connection.retry(keys_);
    for (const QuicConnection::NewId& id : connection.takeNewIds()) {
        index(slot, id.id, id.toClient);
    }
    if (connection.ended()) {
        remove(slot, *connection.ended());
    }
}

void QuicConnectionTable::retry() {
    for (auto slot = slots_.begin(); slot != slots_.end();) {
        auto next = std::next(slot);
        if (slot->connection->waitingForKeys()) {
            afterPacket(slot);
        }
        slot = next;
    }
}

void QuicConnectionTable::index(SlotList::iterator slot, const QuicConnectionId& id,
                                bool toClient) {
    if (id.empty() || !routes_.try_emplace(id, Route{slot, toClient}).second) {
        return;  // known already (or another connection's: the first keeps it)
    }
    ++idLengths_[id.length];
    std::deque<QuicConnectionId>& ids = slot->ids[toClient ? 1 : 0];
    ids.push_back(id);
    if (ids.size() > limits_.idsPerConnection) {
        routes_.erase(ids.front());
        --idLengths_[ids.front().length];
        ids.pop_front();
    }
}

void QuicConnectionTable::remove(SlotList::iterator slot, QuicEnd why) {
    slot->connection->end(why);
    for (const std::deque<QuicConnectionId>& ids : slot->ids) {
        for (const QuicConnectionId& id : ids) {
            routes_.erase(id);
            --idLengths_[id.length];
        }
    }
    if (slot->ownsClientEndpoint) {
        clients_.erase(endpointOf(slot->info.clientAddr, slot->info.clientPort));
    }
    counters_.packetsOpened += slot->connection->packetsOpened();
    counters_.packetsDropped += slot->connection->packetsDropped();
    counters_.keyUpdates += slot->connection->keyUpdates();
    slots_.erase(slot);
}

void QuicConnectionTable::touch(SlotList::iterator slot, std::uint64_t micros) {
    slot->lastMicros = std::max(slot->lastMicros, micros);
    slots_.splice(slots_.end(), slots_, slot);
}

void QuicConnectionTable::expireIdle(std::uint64_t nowMicros) {
    while (!slots_.empty() && nowMicros > slots_.front().lastMicros &&
           nowMicros - slots_.front().lastMicros > limits_.idleMicros) {
        remove(slots_.begin(), QuicEnd::Idle);
    }
}

void QuicConnectionTable::endAll() {
    while (!slots_.empty()) {
        remove(slots_.begin(), QuicEnd::Shutdown);
    }
}

QuicConnectionTable::Endpoint QuicConnectionTable::endpointOf(
    const std::array<std::uint8_t, 16>& addr, std::uint16_t port) {
    return Endpoint{addr, port};
}

#include "core/quic/QuicConnection.h"

#include <algorithm>
#include <utility>

#include "core/quic/QuicFrameReader.h"
#include "core/quic/QuicInitialSecrets.h"
#include "core/tls/ClientHello.h"
#include "core/tls/ServerHello.h"
#include "core/tls/TlsExtensions.h"

namespace {

constexpr std::uint8_t kClientHelloType = 1;
constexpr std::uint8_t kServerHelloType = 2;
constexpr std::uint8_t kEncryptedExtensionsType = 8;

// Recent key log entries tried on a connection no entry names (Encrypted Client Hello).
constexpr std::size_t kTrialCandidates = 32;

// The suites a QUIC connection may use, tried in turn when the ServerHello was not seen.
constexpr std::uint16_t kQuicSuites[] = {0x1301, 0x1302, 0x1303};

// Streams are kept by class (the two type bits of the ID and the direction), then by sequence,
// so that each class is pruned from its oldest stream on.
std::uint64_t streamKey(std::uint64_t stream, bool fromClient) {
    const std::uint64_t streamClass = (stream & 3) << 1 | (fromClient ? 0 : 1);
    return streamClass << 60 | stream >> 2;
}

std::size_t classOf(std::uint64_t key) {
    return static_cast<std::size_t>(key >> 60);
}

std::uint64_t sequenceOf(std::uint64_t key) {
    return key & ((std::uint64_t{1} << 60) - 1);
}

}  // namespace

QuicConnection::QuicConnection(const Limits& limits, QuicHeldBudget& budget,
                               const QuicVersion& version, const QuicConnectionId& clientDcid)
    : limits_(limits),
      budget_(budget),
      version_(&version),
      initialDcid_(clientDcid),
      client_(true, limits.cryptoHeld, budget),
      server_(false, limits.cryptoHeld, budget) {}

QuicConnection::~QuicConnection() {
    dropHeld();
}

bool QuicConnection::start(const QuicPacketHeader& header, std::span<const std::uint8_t> packet) {
    if (header.type != QuicPacketType::Initial || !deriveInitialKeys(*version_, header.dcid)) {
        return false;
    }
    plain_.resize(std::max(plain_.size(), header.length));
    std::optional<QuicDirectionKeys::Opened> opened =
        client_.keys[kInitial].open(packet.first(header.length), header.numberOffset, plain_);
    if (!opened) {
        return false;
    }
    ++packetsOpened_;
    plain_.resize(opened->payload.size());  // the frames wait there for follow()
    return true;
}

void QuicConnection::follow(std::unique_ptr<QuicConsumer> consumer) {
    consumer_ = std::move(consumer);
    if (consumer_ == nullptr) {
        return;
    }
    std::vector<std::uint8_t> payload = std::move(plain_);
    plain_.clear();
    readFrames(payload, true, kInitial);
}

bool QuicConnection::deriveInitialKeys(const QuicVersion& version, const QuicConnectionId& dcid) {
    QuicInitialSecrets secrets;
    const TlsCipherSuite& suite = QuicInitialSecrets::suite();
    if (!QuicInitialSecrets::derive(version, dcid.view(), secrets) ||
        !client_.keys[kInitial].install(suite, version, secrets.client.bytes()) ||
        !server_.keys[kInitial].install(suite, version, secrets.server.bytes())) {
        return false;
    }
    initialVersion_ = &version;
    initialDcid_ = dcid;
    return true;
}

void QuicConnection::onPacket(const QuicPacketHeader& header, std::span<const std::uint8_t> packet,
                              bool fromClient, KeyLog& keys) {
    if (ended_ || consumer_ == nullptr) {
        return;
    }
    packet = packet.first(header.length);
    if (plain_.size() < packet.size()) {
        plain_.resize(packet.size());
    }
    switch (header.type) {
        case QuicPacketType::Initial:
            if (std::optional<QuicDirectionKeys::Opened> opened =
                    openInitial(header, packet, fromClient)) {
                ++packetsOpened_;
                if (!fromClient) {
                    version_ = header.version;  // the server may move to a compatible version
                }
                readFrames(opened->payload, fromClient, kInitial);
            } else {
                ++packetsDropped_;
            }
            break;
        case QuicPacketType::Handshake:
            onProtected(header, packet, fromClient, kHandshake, keys);
            break;
        case QuicPacketType::OneRtt:
            onProtected(header, packet, fromClient, kOneRtt, keys);
            break;
        case QuicPacketType::ZeroRtt:  // early data is not read
        case QuicPacketType::Retry:    // the table learns its ID; the new Initial says the rest
            break;
    }
}

// The Initial keys change after a Retry (the client's Initials then go to the ID the Retry gave,
// with keys from it) and when the server moves to a compatible version: keys for either are
// made when a packet does not open with those at hand.
std::optional<QuicDirectionKeys::Opened> QuicConnection::openInitial(
    const QuicPacketHeader& header, std::span<const std::uint8_t> packet, bool fromClient) {
    QuicDirectionKeys& keys = side(fromClient).keys[kInitial];
    if (header.version == initialVersion_) {
        if (std::optional<QuicDirectionKeys::Opened> opened =
                keys.open(packet, header.numberOffset, plain_)) {
            return opened;
        }
        if (!fromClient || header.dcid == initialDcid_) {
            return std::nullopt;
        }
    }
    const QuicConnectionId previousDcid = initialDcid_;
    const QuicVersion* previousVersion = initialVersion_;
    for (const QuicConnectionId& dcid : {previousDcid, header.dcid}) {
        if ((header.version != previousVersion || dcid != previousDcid) &&
            (dcid == previousDcid || fromClient) && deriveInitialKeys(*header.version, dcid)) {
            if (std::optional<QuicDirectionKeys::Opened> opened =
                    keys.open(packet, header.numberOffset, plain_)) {
                return opened;
            }
        }
    }
    deriveInitialKeys(*previousVersion, previousDcid);
    return std::nullopt;
}

void QuicConnection::onProtected(const QuicPacketHeader& header,
                                 std::span<const std::uint8_t> packet, bool fromClient, Level level,
                                 KeyLog& keys) {
    protectedSeen_ = true;
    Side& from = side(fromClient);
    std::optional<QuicDirectionKeys::Opened> opened;
    if (!from.keys[level].ready()) {
        switch (installKeys(from, level, packet, header.numberOffset, keys, opened)) {
            case Keys::Ready:
            case Keys::Opened:
                break;
            case Keys::Missing:
                holdForKeys(header, packet, fromClient, keys);
                return;
            case Keys::Failed:
                ++packetsDropped_;
                return;
        }
    }
    if (!opened) {
        opened = from.keys[level].open(packet, header.numberOffset, plain_);
    }
    if (!opened) {
        ++packetsDropped_;
        return;
    }
    ++packetsOpened_;
    protectedOpened_ = true;
    // Keys that just came may open packets that waited for them.
    replayWanted_ = replayWanted_ || !held_.empty();
    readFrames(opened->payload, fromClient, level);
}

// Looks the secret up by client random (once per key log generation), else, for 1-RTT, tries
// recent unclaimed entries on this packet.
QuicConnection::Keys QuicConnection::installKeys(Side& side, Level level,
                                                 std::span<const std::uint8_t> packet,
                                                 std::size_t numberOffset, KeyLog& keys,
                                                 std::optional<QuicDirectionKeys::Opened>& opened) {
    const std::uint64_t generation = keys.generation();
    if (!helloRead_ || keysGivenUp_ || side.lookedAt[level] == generation + 1) {
        return keysGivenUp_ ? Keys::Failed : Keys::Missing;
    }
    side.lookedAt[level] = generation + 1;
    if (std::optional<KeyLogSecrets> secrets = keys.find(keyRandom_)) {
        if (!installFrom(*secrets, side, level, packet, numberOffset, opened)) {
            return Keys::Missing;
        }
        if (!keyRandomClaimed_) {
            keys.claim(keyRandom_);
            keyRandomClaimed_ = true;
        }
        return opened ? Keys::Opened : Keys::Ready;
    }
    if (keyRandomClaimed_ || level != kOneRtt) {
        return Keys::Missing;
    }
    return tryCandidates(side, packet, numberOffset, keys, opened) ? Keys::Opened : Keys::Missing;
}

// Installs the side's secret for the level with the server's suite; before the ServerHello is
// known, with each suite whose hash fits the secret until one opens this packet.
bool QuicConnection::installFrom(const KeyLogSecrets& secrets, Side& side, Level level,
                                 std::span<const std::uint8_t> packet, std::size_t numberOffset,
                                 std::optional<QuicDirectionKeys::Opened>& opened) {
    const SecretBytes& secret =
        level == kHandshake
            ? (side.fromClient ? secrets.clientHandshakeTraffic : secrets.serverHandshakeTraffic)
            : (side.fromClient ? secrets.clientTraffic0 : secrets.serverTraffic0);
    if (secret.empty()) {
        return false;
    }
    QuicDirectionKeys& keys = side.keys[level];
    if (suite_ != nullptr) {
        return keys.install(*suite_, *version_, secret.bytes());
    }
    for (std::uint16_t id : kQuicSuites) {
        const TlsCipherSuite* suite = TlsCipherSuite::find(id, TlsCipherSuite::kTls13);
        if (suite->hashLength == secret.size() && keys.install(*suite, *version_, secret.bytes()) &&
            (opened = keys.open(packet, numberOffset, plain_))) {
            suite_ = suite;
            return true;
        }
    }
    keys.reset();
    return false;
}

// The ClientHello on the wire may not carry the client random the key log names (Encrypted
// Client Hello): recent unclaimed entries are tried on this packet, and the one that opens it
// is taken.
bool QuicConnection::tryCandidates(Side& side, std::span<const std::uint8_t> packet,
                                   std::size_t numberOffset, KeyLog& keys,
                                   std::optional<QuicDirectionKeys::Opened>& opened) {
    for (const KeyLog::Candidate& candidate : keys.recentUnclaimed(kTrialCandidates)) {
        opened.reset();
        if (installFrom(candidate.secrets, side, kOneRtt, packet, numberOffset, opened) &&
            (opened || (opened = side.keys[kOneRtt].open(packet, numberOffset, plain_))) &&
            keys.claim(candidate.random)) {
            keyRandom_ = candidate.random;
            keyRandomClaimed_ = true;
            return true;
        }
        side.keys[kOneRtt].reset();
    }
    opened.reset();
    return false;
}

void QuicConnection::holdForKeys(const QuicPacketHeader& header,
                                 std::span<const std::uint8_t> packet, bool fromClient,
                                 const KeyLog& keys) {
    if (keysGivenUp_) {
        return;
    }
    const std::size_t charge = packet.size() + QuicHeldBudget::kPieceCharge;
    if (charge > limits_.heldForKeys - heldBytes_ || !budget_.take(charge)) {
        // The keys are too long in coming: what waited is dropped, and nothing waits again.
        dropHeld();
        keysGivenUp_ = true;
        return;
    }
    heldBytes_ += charge;
    heldGeneration_ = keys.generation();
    held_.push_back(HeldPacket{fromClient, header.dcid.length, {packet.begin(), packet.end()}});
}

void QuicConnection::dropHeld() {
    held_.clear();
    budget_.give(heldBytes_);
    heldBytes_ = 0;
}

// Each pass reads every waiting packet once; keys installed on the way make another pass.
void QuicConnection::retry(KeyLog& keys) {
    while (!held_.empty() && !ended_ && (replayWanted_ || heldGeneration_ != keys.generation())) {
        replayWanted_ = false;
        std::deque<HeldPacket> waiting = std::move(held_);
        held_.clear();
        budget_.give(heldBytes_);
        heldBytes_ = 0;
        for (const HeldPacket& packet : waiting) {
            QuicPacketHeader header;
            if (QuicPacketHeader::parse(packet.bytes, packet.dcidLength, header) ==
                QuicPacketHeader::Parse::Packet) {
                onPacket(header, packet.bytes, packet.fromClient, keys);
            }
            if (ended_) {
                return;
            }
        }
        if (!held_.empty()) {
            heldGeneration_ = keys.generation();
        }
    }
    replayWanted_ = false;
}

void QuicConnection::end(QuicEnd why) {
    if (ended_) {
        return;
    }
    const bool neverOpened = protectedSeen_ && !protectedOpened_;
    if (neverOpened && (why == QuicEnd::Idle || why == QuicEnd::Shutdown ||
                        why == QuicEnd::Evicted || why == QuicEnd::Closed)) {
        why = QuicEnd::NoKeys;
    }
    keyUpdatesAtEnd_ = keyUpdates();
    ended_ = why;
    dropHeld();
    streams_.clear();
    for (Side* each : {&client_, &server_}) {
        for (QuicDirectionKeys& keys : each->keys) {
            keys.reset();
        }
        for (QuicOrderedBytes& crypto : each->crypto) {
            crypto.dropHeld();
        }
    }
    if (consumer_ != nullptr) {
        std::unique_ptr<QuicConsumer> consumer = std::move(consumer_);
        consumer->onEnd(why);
    }
}

std::vector<QuicConnection::NewId> QuicConnection::takeNewIds() {
    return std::exchange(newIds_, {});
}

std::uint64_t QuicConnection::keyUpdates() const {
    if (ended_) {
        return keyUpdatesAtEnd_;
    }
    return client_.keys[kOneRtt].updates() + server_.keys[kOneRtt].updates();
}

void QuicConnection::fail(std::string reason) {
    if (!ended_) {
        failure_ = std::move(reason);
        end(QuicEnd::Unreadable);
    }
}

void QuicConnection::readFrames(std::span<const std::uint8_t> payload, bool fromClient,
                                Level level) {
    QuicFrameReader reader(payload);
    QuicFrame frame;
    for (;;) {
        switch (reader.next(frame)) {
            case QuicFrameReader::Next::End:
                if (closing_) {
                    end(QuicEnd::Closed);
                }
                return;
            case QuicFrameReader::Next::Malformed:
                return fail("a frame of type " + std::to_string(reader.lastType()) +
                            " is malformed");
            case QuicFrameReader::Next::UnknownType:
                return fail("a frame of unknown type " + std::to_string(reader.lastType()) +
                            " came");
            case QuicFrameReader::Next::Frame:
                onFrame(frame, fromClient, level);
                if (ended_) {
                    return;
                }
                break;
        }
    }
}

// Initial and Handshake packets carry the handshake; what an application sends is read from
// 1-RTT packets only.
void QuicConnection::onFrame(const QuicFrame& frame, bool fromClient, Level level) {
    using Kind = QuicFrame::Kind;
    switch (frame.kind) {
        case Kind::Crypto:
            if (level != kOneRtt) {
                onCrypto(frame, side(fromClient), level);
            }
            break;
        case Kind::Stream:
            if (level == kOneRtt) {
                onStream(frame, fromClient);
            }
            break;
        case Kind::ResetStream:
            if (level == kOneRtt) {
                onResetStream(frame, fromClient);
            }
            break;
        case Kind::NewConnectionId:
            if (level == kOneRtt) {
                learnId(fromClient, frame.data);
            }
            break;
        case Kind::ConnectionClose:
            closing_ = true;  // the rest of the packet is read first
            break;
        default:
            break;
    }
}

void QuicConnection::onCrypto(const QuicFrame& frame, Side& side, Level level) {
    if (side.handshakeRead[level]) {
        return;
    }
    QuicOrderedBytes::Add added = side.crypto[level].add(
        frame.offset, frame.data, false, [&](std::span<const std::uint8_t> bytes, bool) {
            side.handshake[level].add(bytes);
            return true;
        });
    if (added != QuicOrderedBytes::Add::Ok) {
        return fail("the handshake data held out of order passed its bound");
    }
    readHandshake(side, level);
}

void QuicConnection::readHandshake(Side& side, Level level) {
    HandshakeAssembler::Message message;
    while (!side.handshakeRead[level] && !ended_) {
        switch (side.handshake[level].next(message)) {
            case HandshakeAssembler::Next::NeedMore:
                return;
            case HandshakeAssembler::Next::TooLarge:
                return fail("a handshake message is over the size bound");
            case HandshakeAssembler::Next::Message:
                side.handshakeRead[level] = onHandshakeMessage(side, level, message);
                break;
        }
    }
    // What was read is all that is needed from this level and side.
    side.handshake[level].clear();
    side.crypto[level].dropHeld();
}

// True when the message was the one this level and side are read for.
bool QuicConnection::onHandshakeMessage(Side& side, Level level,
                                        const HandshakeAssembler::Message& message) {
    if (side.fromClient) {
        if (level != kInitial) {
            return true;  // the client's Finished: nothing a reader needs
        }
        std::optional<ClientHello> hello =
            message.type == kClientHelloType ? ClientHello::parse(message.body) : std::nullopt;
        if (!hello) {
            fail("the client's first handshake message is no readable ClientHello");
            return true;
        }
        helloRead_ = true;
        keyRandom_ = hello->random;
        if (consumer_ != nullptr && !consumer_->onHello(*hello)) {
            end(QuicEnd::GivenUp);
        }
        return true;
    }
    if (level == kInitial) {
        std::optional<ServerHello> hello =
            message.type == kServerHelloType ? ServerHello::parse(message.body) : std::nullopt;
        if (!hello) {
            fail("the server's first handshake message is no readable ServerHello");
            return true;
        }
        if (hello->retryRequest) {
            return false;  // the real ServerHello follows the client's second hello
        }
        suite_ = TlsCipherSuite::find(hello->cipherSuite, TlsCipherSuite::kTls13);
        if (suite_ == nullptr || hello->version != TlsCipherSuite::kTls13) {
            fail("the server chose a cipher suite QUIC does not use");
        }
        return true;
    }
    if (message.type != kEncryptedExtensionsType) {
        return false;
    }
    std::string alpn;
    if (TlsExtensions::chosenAlpn(message.body, alpn) && !alpn.empty() && consumer_ != nullptr) {
        consumer_->onAlpn(alpn);
    }
    return true;
}

void QuicConnection::onStream(const QuicFrame& frame, bool fromClient) {
    const bool unidirectional = (frame.stream & 2) != 0;
    const bool clientOpened = (frame.stream & 1) == 0;
    if (unidirectional && clientOpened != fromClient) {
        return;  // only the side that opens a unidirectional stream sends on it
    }
    Stream* stream = streamFor(streamKey(frame.stream, fromClient));
    if (stream == nullptr || stream->done()) {
        return;
    }
    bool givenUp = false;
    QuicOrderedBytes::Add added = stream->bytes.add(
        frame.offset, frame.data, frame.fin, [&](std::span<const std::uint8_t> bytes, bool fin) {
            givenUp = !consumer_->onStreamBytes(frame.stream, fromClient, bytes, fin);
            return !givenUp;
        });
    if (givenUp) {
        return end(QuicEnd::GivenUp);
    }
    if (added != QuicOrderedBytes::Add::Ok) {
        stream->aborted = true;
        stream->bytes.dropHeld();
        consumer_->onStreamAbort(frame.stream, fromClient);
    } else if (stream->done()) {
        stream->bytes.dropHeld();
    }
}

void QuicConnection::onResetStream(const QuicFrame& frame, bool fromClient) {
    Stream* stream = streamFor(streamKey(frame.stream, fromClient));
    if (stream != nullptr && !stream->done()) {
        stream->aborted = true;
        stream->bytes.dropHeld();
        consumer_->onStreamAbort(frame.stream, fromClient);
    }
}

// The stream's state, made at its first frame; null for a stream pruned since, or when the
// bound is reached.
QuicConnection::Stream* QuicConnection::streamFor(std::uint64_t key) {
    if (sequenceOf(key) < forgottenBelow_[classOf(key)]) {
        return nullptr;
    }
    auto found = streams_.find(key);
    if (found != streams_.end()) {
        return &found->second;
    }
    if (streams_.size() >= limits_.streams) {
        pruneStreams();
        if (streams_.size() >= limits_.streams) {
            return nullptr;
        }
    }
    return &streams_.emplace(key, Stream(QuicOrderedBytes(limits_.streamHeld, &budget_)))
                .first->second;
}

// Forgets, in each class, the streams that are done up to the first that is not: a late frame
// of one of them is then known to be old.
void QuicConnection::pruneStreams() {
    for (auto at = streams_.begin(); at != streams_.end();) {
        const std::size_t streamClass = classOf(at->first);
        if (at->second.done()) {
            forgottenBelow_[streamClass] = sequenceOf(at->first) + 1;
            at = streams_.erase(at);
            continue;
        }
        if (streamClass + 1 == forgottenBelow_.size()) {
            break;
        }
        at = streams_.lower_bound(static_cast<std::uint64_t>(streamClass + 1) << 60);
    }
}

// A NEW_CONNECTION_ID names the connection in the packets sent to the side that made it.
void QuicConnection::learnId(bool madeByClient, std::span<const std::uint8_t> bytes) {
    if (std::optional<QuicConnectionId> id = QuicConnectionId::of(bytes)) {
        newIds_.push_back(NewId{*id, madeByClient});
    }
}

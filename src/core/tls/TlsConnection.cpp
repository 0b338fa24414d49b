#include "core/tls/TlsConnection.h"

#include <openssl/crypto.h>

#include <cstdio>

#include "core/tls/ClientHello.h"
#include "core/tls/ServerHello.h"
#include "core/tls/TlsExtensions.h"
#include "core/tls/TlsKeyDerivation.h"

namespace {

constexpr std::size_t kMasterSecretLength = 48;

constexpr std::uint8_t kChangeCipherSpec = 20;
constexpr std::uint8_t kAlert = 21;
constexpr std::uint8_t kHandshake = 22;
constexpr std::uint8_t kApplicationData = 23;
constexpr std::uint8_t kHeartbeat = 24;

constexpr std::uint8_t kClientHelloType = 1;
constexpr std::uint8_t kServerHelloType = 2;
constexpr std::uint8_t kEncryptedExtensionsType = 8;
constexpr std::uint8_t kFinishedType = 20;
constexpr std::uint8_t kKeyUpdateType = 24;

// Recent key log entries tried on a connection no entry names (Encrypted Client Hello).
constexpr std::size_t kTrialCandidates = 32;

const char* sideName(bool fromClient) {
    return fromClient ? "client" : "server";
}

std::string hex16(std::uint16_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%04x", value);
    return text;
}

// TLS 1.3 hides the real content type after the content, before zero padding.
std::optional<std::size_t> innerTypeAt(std::span<const std::uint8_t> plaintext) {
    for (std::size_t i = plaintext.size(); i > 0; --i) {
        if (plaintext[i - 1] != 0) {
            return i - 1;
        }
    }
    return std::nullopt;
}

}  // namespace

TlsConnection::TlsConnection() : TlsConnection(Limits{}) {}

TlsConnection::TlsConnection(Limits limits) : limits_(limits) {}

TlsConnection::State TlsConnection::state() const {
    if (ended_) {
        return *ended_;
    }
    if (client_.wait == Wait::Keys || server_.wait == Wait::Keys) {
        return State::WaitingForKeys;
    }
    return opened_ ? State::Decrypting : State::Handshake;
}

void TlsConnection::feed(bool fromClient, std::span<const std::uint8_t> bytes, KeyLog& keys,
                         TlsPlaintextSink& sink) {
    if (ended_) {
        return;
    }
    pump(fromClient ? client_ : server_, bytes, keys, sink);
    // What this side brought (a hello, a client random) may let the other side go on.
    pumpHeld(keys, sink);
}

void TlsConnection::retry(KeyLog& keys, TlsPlaintextSink& sink) {
    pumpHeld(keys, sink);
}

void TlsConnection::stopWaiting() {
    State now = state();
    if (now == State::Handshake || now == State::WaitingForKeys) {
        fail(State::NoKeys, "no keys arrived for this connection");
    }
}

void TlsConnection::pumpHeld(KeyLog& keys, TlsPlaintextSink& sink) {
    for (bool progressed = true; progressed && !ended_;) {
        progressed = false;
        for (Direction* side : {&client_, &server_}) {
            if (side->records.held() > 0) {
                progressed = pump(*side, {}, keys, sink) || progressed;
            }
        }
    }
}

// Handles the whole records of one side until one must wait; returns whether any was handled.
bool TlsConnection::pump(Direction& side, std::span<const std::uint8_t> bytes, KeyLog& keys,
                         TlsPlaintextSink& sink) {
    if (side.phase == Phase::Closed) {
        return false;
    }
    side.records.begin(bytes);
    if (side.wait == Wait::Keys && side.keysGeneration == keys.generation()) {
        // No line was added since the keys were looked for: only hold what came.
        holdWhileWaiting(side);
        return false;
    }
    side.wait = Wait::None;
    bool progressed = false;
    while (!ended_ && side.phase != Phase::Closed) {
        TlsRecordStream::Record record;
        TlsRecordStream::Next next = side.records.next(record);
        if (next == TlsRecordStream::Next::NeedMore) {
            break;
        }
        if (next == TlsRecordStream::Next::BadHeader) {
            side.recordCount == 0
                ? fail(State::NotTls, std::string("the ") + sideName(side.fromClient) +
                                          "'s first bytes are no TLS record")
                : failOn(side, "has a header that is no TLS record header");
            break;
        }
        Step step = handleRecord(side, record, keys, sink);
        if (step == Step::Stall) {
            break;
        }
        side.records.consume();
        ++side.recordCount;
        progressed = true;
    }
    if (ended_ || side.phase == Phase::Closed) {
        side.records.dropHeld();
        return progressed;
    }
    holdWhileWaiting(side);
    return progressed;
}

// Ends a pass over one side: what was not handled is held, within the bound while waiting.
void TlsConnection::holdWhileWaiting(Direction& side) {
    bool waiting = side.wait != Wait::None;
    if (waiting && client_.records.held() + server_.records.held() + side.records.unread() >
                       limits_.heldWhileWaiting) {
        fail(State::NoKeys, "more than " + std::to_string(limits_.heldWhileWaiting) +
                                " bytes were held waiting for keys");
        return;
    }
    side.records.end();
}

TlsConnection::Step TlsConnection::handleRecord(Direction& side,
                                                const TlsRecordStream::Record& record, KeyLog& keys,
                                                TlsPlaintextSink& sink) {
    switch (side.phase) {
        case Phase::Hello:
            return helloRecord(side, record);
        case Phase::AwaitServer:
            return awaitServer(side, record, keys, sink);
        case Phase::Plain:
            return plainRecord(side, record);
        case Phase::Protected:
            return protectedRecord(side, record, keys, sink);
        case Phase::Closed:
            break;
    }
    return Step::Next;
}

TlsConnection::Step TlsConnection::helloRecord(Direction& side,
                                               const TlsRecordStream::Record& record) {
    bool first = side.recordCount == 0;
    if (record.type == kAlert && !(first && side.fromClient)) {
        side.phase = Phase::Closed;
        return Step::Next;
    }
    if (record.type == kChangeCipherSpec && !first) {
        return Step::Next;  // the compatibility one around a HelloRetryRequest
    }
    if (record.type != kHandshake) {
        return first ? fail(State::NotTls, std::string("the ") + sideName(side.fromClient) +
                                               " does not start with a handshake record")
                     : failOn(side, "came before the hello");
    }
    side.handshake.add(record.body);
    HandshakeAssembler::Message message;
    switch (side.handshake.next(message)) {
        case HandshakeAssembler::Next::NeedMore:
            return Step::Next;
        case HandshakeAssembler::Next::TooLarge:
            return failOn(side, "starts a handshake message over the size bound");
        case HandshakeAssembler::Next::Message:
            break;
    }
    return side.fromClient ? clientHello(side, message) : serverHello(side, message);
}

TlsConnection::Step TlsConnection::clientHello(Direction& side,
                                               const HandshakeAssembler::Message& message) {
    if (message.type != kClientHelloType) {
        return clientHellos_ == 0
                   ? fail(State::NotTls, "the client's first handshake message is no ClientHello")
                   : failOn(side, "holds no ClientHello after the HelloRetryRequest");
    }
    std::optional<ClientHello> hello = ClientHello::parse(message.body);
    if (!hello) {
        return fail(State::Failed, "the ClientHello is malformed");
    }
    // The ClientHello after a HelloRetryRequest keeps the random; the first one names the keys.
    if (clientHellos_++ == 0) {
        clientRandom_ = hello->random;
        keyRandom_ = hello->random;
        serverName_ = std::move(hello->serverName);
        offeredAlpn_ = hello->alpnOffers.empty() ? std::string() : hello->alpnOffers.front();
    }
    side.handshake.clear();
    side.phase = Phase::AwaitServer;
    return Step::Next;
}

TlsConnection::Step TlsConnection::serverHello(Direction& side,
                                               const HandshakeAssembler::Message& message) {
    if (message.type != kServerHelloType) {
        return fail(retryRequested_ ? State::Failed : State::NotTls,
                    "the server's first handshake message is no ServerHello");
    }
    std::optional<ServerHello> hello = ServerHello::parse(message.body);
    if (!hello) {
        return fail(State::Failed, "the ServerHello is malformed");
    }
    side.handshake.clear();
    if (hello->retryRequest) {
        if (retryRequested_) {
            return fail(State::Failed, "the server asked twice for another ClientHello");
        }
        retryRequested_ = true;
        return Step::Next;
    }
    version_ = hello->version;
    cipherSuite_ = hello->cipherSuite;
    serverRandom_ = hello->random;
    chosenAlpn_ = std::move(hello->alpn);
    if (version_ != TlsCipherSuite::kTls12 && version_ != TlsCipherSuite::kTls13) {
        return fail(State::Failed, "TLS version " + hex16(version_) + " is not decrypted");
    }
    suite_ = TlsCipherSuite::find(cipherSuite_, version_);
    if (suite_ == nullptr) {
        return fail(State::Failed, "cipher suite " + hex16(cipherSuite_) + " is not decrypted");
    }
    side.phase = isTls13() ? Phase::Protected : Phase::Plain;
    return Step::Next;
}

// The client's records after its hello depend on the server's answer: another ClientHello
// after a HelloRetryRequest, protected records in TLS 1.3, plain ones up to CCS in TLS 1.2.
TlsConnection::Step TlsConnection::awaitServer(Direction& side,
                                               const TlsRecordStream::Record& record, KeyLog& keys,
                                               TlsPlaintextSink& sink) {
    if (retryRequested_ && clientHellos_ < 2) {
        side.phase = Phase::Hello;
    } else if (suite_ != nullptr) {
        side.phase = isTls13() ? Phase::Protected : Phase::Plain;
    } else {
        side.wait = Wait::Peer;
        return Step::Stall;
    }
    return handleRecord(side, record, keys, sink);
}

TlsConnection::Step TlsConnection::plainRecord(Direction& side,
                                               const TlsRecordStream::Record& record) {
    switch (record.type) {
        case kHandshake:
        case kHeartbeat:
            return Step::Next;  // certificates and key exchange: nothing a reader needs
        case kChangeCipherSpec:
            side.handshake.clear();
            side.phase = Phase::Protected;
            return Step::Next;
        case kAlert:
            side.phase = Phase::Closed;
            return Step::Next;
        default:
            return failOn(side, "carries application data before ChangeCipherSpec");
    }
}

TlsConnection::Step TlsConnection::protectedRecord(Direction& side,
                                                   const TlsRecordStream::Record& record,
                                                   KeyLog& keys, TlsPlaintextSink& sink) {
    if (!isTls13()) {
        return openRecord(side, record, keys, sink);  // every TLS 1.2 record after CCS
    }
    switch (record.type) {
        case kApplicationData:
            return openRecord(side, record, keys, sink);
        case kChangeCipherSpec:
            return Step::Next;  // sent for middleboxes only
        case kAlert:
            side.phase = Phase::Closed;  // a plain alert: the peer gave up
            return Step::Next;
        default:
            return failOn(side, "is unprotected after the keys changed");
    }
}

TlsConnection::Step TlsConnection::openRecord(Direction& side,
                                              const TlsRecordStream::Record& record, KeyLog& keys,
                                              TlsPlaintextSink& sink) {
    if (side.plain.size() < TlsRecordStream::kMaxBody) {
        side.plain.resize(TlsRecordStream::kMaxBody);
    }
    std::optional<std::size_t> opened;
    if (!side.cipher.ready()) {
        switch (installKeys(side, record, keys, opened)) {
            case Keys::Ready:
                break;
            case Keys::Missing:
                side.wait = Wait::Keys;
                return Step::Stall;
            case Keys::NeedPeer:
                side.wait = Wait::Peer;
                return Step::Stall;
            case Keys::Failed:
                return Step::Stop;
        }
    }
    if (!opened) {
        opened = side.cipher.open(record.header, record.body, side.plain);
    }
    if (!opened) {
        return failOn(side, "does not authenticate");
    }
    opened_ = true;
    std::span<const std::uint8_t> content(side.plain.data(), *opened);
    std::uint8_t type = record.type;
    if (isTls13()) {
        std::optional<std::size_t> typeAt = innerTypeAt(content);
        if (!typeAt) {
            return failOn(side, "has no content type");
        }
        type = content[*typeAt];
        content = content.first(*typeAt);
    }
    return deliver(side, type, content, sink);
}

TlsConnection::Step TlsConnection::deliver(Direction& side, std::uint8_t type,
                                           std::span<const std::uint8_t> content,
                                           TlsPlaintextSink& sink) {
    switch (type) {
        case kApplicationData:
            if (!content.empty()) {
                sink.onApplicationData(side.fromClient, content);
            }
            return Step::Next;
        case kHandshake:
            side.handshake.add(content);
            return protectedHandshake(side);
        case kAlert:
            side.phase = Phase::Closed;
            return Step::Next;
        case kHeartbeat:
            return Step::Next;
        default:
            return failOn(side, "holds content of type " + std::to_string(type));
    }
}

// TLS 1.3 changes keys after Finished and KeyUpdate; TLS 1.2 keeps them (its encrypted
// handshake is Finished alone).
TlsConnection::Step TlsConnection::protectedHandshake(Direction& side) {
    bool keysChanged = false;
    HandshakeAssembler::Message message;
    for (;;) {
        HandshakeAssembler::Next next = side.handshake.next(message);
        if (next == HandshakeAssembler::Next::TooLarge) {
            return failOn(side, "starts a handshake message over the size bound");
        }
        if (next == HandshakeAssembler::Next::NeedMore) {
            break;
        }
        if (!isTls13()) {
            continue;
        }
        if (message.type == kEncryptedExtensionsType && !side.fromClient) {
            TlsExtensions::chosenAlpn(message.body, chosenAlpn_);
        } else if (message.type == kFinishedType && !side.applicationKeys) {
            side.applicationKeys = true;
            side.cipher.reset();  // the *_TRAFFIC_SECRET_0 key is looked up at the next record
            side.trafficSecret.clear();
            keysChanged = true;
        } else if (message.type == kKeyUpdateType) {
            if (keyUpdate(side) == Step::Stop) {
                return Step::Stop;
            }
            keysChanged = true;
        }
    }
    if (keysChanged && side.handshake.holdsBytes()) {
        return failOn(side, "splits a handshake message across a key change");
    }
    return Step::Next;
}

TlsConnection::Step TlsConnection::keyUpdate(Direction& side) {
    if (!side.applicationKeys || side.trafficSecret.empty()) {
        return failOn(side, "updates its key before the handshake ended");
    }
    SecretBytes next;
    std::span<std::uint8_t> bytes = next.writable(suite_->hashLength);
    if (!TlsKeyDerivation::expandLabel(suite_->digest, side.trafficSecret.bytes(), "traffic upd",
                                       bytes) ||
        !installSecret(side, next)) {
        return fail(State::Failed, "the next key after a KeyUpdate could not be derived");
    }
    return Step::Next;
}

TlsConnection::Keys TlsConnection::installKeys(Direction& side,
                                               const TlsRecordStream::Record& record, KeyLog& keys,
                                               std::optional<std::size_t>& opened) {
    if (clientHellos_ == 0 || suite_ == nullptr) {
        return Keys::NeedPeer;  // the keys are named by randoms not read yet
    }
    // Read before looking: a line added during the look makes the next feed look again.
    side.keysGeneration = keys.generation();
    if (std::optional<KeyLogSecrets> secrets = keys.find(keyRandom_)) {
        const SecretBytes& secret = secretFor(side, *secrets);
        if (secret.empty()) {
            return Keys::Missing;  // the line for this secret is not written yet
        }
        if (!installSecret(side, secret)) {
            fail(State::Failed,
                 "the key log's secret does not fit cipher suite " + hex16(cipherSuite_));
            return Keys::Failed;
        }
        if (!keyRandomClaimed_) {
            keys.claim(keyRandom_);
            keyRandomClaimed_ = true;
        }
        return Keys::Ready;
    }
    if (keyRandomClaimed_) {
        return Keys::Missing;
    }
    return tryCandidates(side, record, keys, opened) ? Keys::Ready : Keys::Missing;
}

// The ClientHello on the wire may not carry the client random the key log names (Encrypted
// Client Hello): the recent unclaimed entries are tried on this record, and the one whose
// tag verifies is taken.
bool TlsConnection::tryCandidates(Direction& side, const TlsRecordStream::Record& record,
                                  KeyLog& keys, std::optional<std::size_t>& opened) {
    for (const KeyLog::Candidate& candidate : keys.recentUnclaimed(kTrialCandidates)) {
        const SecretBytes& secret = secretFor(side, candidate.secrets);
        if (secret.empty() || !installSecret(side, secret)) {
            continue;
        }
        opened = side.cipher.open(record.header, record.body, side.plain);
        if (opened && keys.claim(candidate.random)) {
            keyRandom_ = candidate.random;
            keyRandomClaimed_ = true;
            return true;
        }
        opened.reset();
        side.cipher.reset();
    }
    return false;
}

const SecretBytes& TlsConnection::secretFor(const Direction& side,
                                            const KeyLogSecrets& secrets) const {
    if (!isTls13()) {
        return secrets.masterSecret;
    }
    if (side.fromClient) {
        return side.applicationKeys ? secrets.clientTraffic0 : secrets.clientHandshakeTraffic;
    }
    return side.applicationKeys ? secrets.serverTraffic0 : secrets.serverHandshakeTraffic;
}

bool TlsConnection::installSecret(Direction& side, const SecretBytes& secret) {
    const TlsCipherSuite& suite = *suite_;
    const std::size_t ivLength = suite.fixedIvLength();
    std::array<std::uint8_t, 2 * (32 + TlsRecordCipher::kNonceLength)> block{};
    bool ok = false;
    if (isTls13()) {
        auto key = std::span(block).first(suite.keyLength);
        auto iv = std::span(block).subspan(suite.keyLength, ivLength);
        ok = secret.size() == suite.hashLength &&
             TlsKeyDerivation::expandLabel(suite.digest, secret.bytes(), "key", key) &&
             TlsKeyDerivation::expandLabel(suite.digest, secret.bytes(), "iv", iv) &&
             side.cipher.install(suite, key, iv);
        side.trafficSecret = secret;
    } else {
        // client key, server key, client IV, server IV
        const std::size_t keyLength = suite.keyLength;
        auto used = std::span(block).first(2 * (keyLength + ivLength));
        std::size_t own = side.fromClient ? 0 : 1;
        ok = secret.size() == kMasterSecretLength &&
             TlsKeyDerivation::keyBlock(suite.digest, secret.bytes(), serverRandom_, clientRandom_,
                                        used) &&
             side.cipher.install(suite, used.subspan(own * keyLength, keyLength),
                                 used.subspan(2 * keyLength + own * ivLength, ivLength));
    }
    OPENSSL_cleanse(block.data(), block.size());
    return ok;
}

TlsConnection::Step TlsConnection::fail(State state, std::string reason) {
    if (!ended_) {
        ended_ = state;
        failure_ = std::move(reason);
        client_.records.dropHeld();
        server_.records.dropHeld();
        client_.cipher.reset();
        server_.cipher.reset();
        client_.trafficSecret.clear();
        server_.trafficSecret.clear();
    }
    return Step::Stop;
}

TlsConnection::Step TlsConnection::failOn(const Direction& side, std::string_view what) {
    return fail(State::Failed, "record " + std::to_string(side.recordCount + 1) + " from the " +
                                   sideName(side.fromClient) + " " + std::string(what));
}

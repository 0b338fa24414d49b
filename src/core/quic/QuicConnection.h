#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/quic/QuicConnectionId.h"
#include "core/quic/QuicConsumer.h"
#include "core/quic/QuicDirectionKeys.h"
#include "core/quic/QuicEnd.h"
#include "core/quic/QuicFrame.h"
#include "core/quic/QuicHeldBudget.h"
#include "core/quic/QuicOrderedBytes.h"
#include "core/quic/QuicPacketHeader.h"
#include "core/quic/QuicVersion.h"
#include "core/tls/ClientRandom.h"
#include "core/tls/HandshakeAssembler.h"
#include "core/tls/KeyLog.h"
#include "core/tls/TlsCipherSuite.h"

// One QUIC connection read from its packets: the Initial packets with keys anyone can derive
// (the hellos: server name, ALPN offers, client random, cipher suite), the Handshake and 1-RTT
// packets with the key log's secrets for that client random, and the frames inside. Stream bytes
// go to the consumer in order per stream and direction. Packets that do not authenticate are
// dropped, as an endpoint would; packets whose keys the key log does not hold yet wait, within a
// bound. Used by one thread at a time, through QuicConnectionTable.
class QuicConnection {
  public:
    struct Limits {
        std::size_t cryptoHeld = 64 * 1024;  // CRYPTO bytes out of order, per level and side
        std::size_t streamHeld = 1 << 20;    // stream bytes out of order, per stream and side
        std::size_t streams = 4096;          // stream directions tracked, finished ones too
        std::size_t heldForKeys = 1 << 20;   // protected packets kept while keys are missing
    };

    // An ID that now names this connection, for the table's index.
    struct NewId {
        QuicConnectionId id;
        bool toClient = false;  // packets carrying it go to the client
    };

    QuicConnection(const Limits& limits, QuicHeldBudget& budget, const QuicVersion& version,
                   const QuicConnectionId& clientDcid);
    ~QuicConnection();
    QuicConnection(const QuicConnection&) = delete;
    QuicConnection& operator=(const QuicConnection&) = delete;

    // Opens what should be the client's first Initial with the keys its Destination Connection
    // ID gives. False: it is none (a server's Initial, another protocol); nothing is kept then.
    bool start(const QuicPacketHeader& header, std::span<const std::uint8_t> packet);
    // Reads the frames of the packet start() opened; a null consumer: the connection's packets
    // are only absorbed (not followed).
    void follow(std::unique_ptr<QuicConsumer> consumer);

    // A packet of this connection, its header read (a short header's with this connection's ID).
    void onPacket(const QuicPacketHeader& header, std::span<const std::uint8_t> packet,
                  bool fromClient, KeyLog& keys);
    // Packets waiting for keys are read again when the key log has new lines or keys came from
    // another packet. Cheap when there is nothing to do: call after every packet.
    void retry(KeyLog& keys);
    // Ends the connection unless it ended already: the consumer hears `why` (NoKeys instead,
    // when protected packets were seen and none could ever be opened).
    void end(QuicEnd why);

    std::optional<QuicEnd> ended() const { return ended_; }
    bool followed() const { return consumer_ != nullptr; }
    bool waitingForKeys() const { return !held_.empty(); }
    // Why the connection ended Unreadable, in English for logs.
    const std::string& failure() const { return failure_; }
    // IDs learned since the last call (the table indexes them).
    std::vector<NewId> takeNewIds();
    std::uint64_t packetsOpened() const { return packetsOpened_; }
    std::uint64_t packetsDropped() const { return packetsDropped_; }
    // Key updates read (1-RTT key phase changes), both sides together.
    std::uint64_t keyUpdates() const;

  private:
    enum Level { kInitial = 0, kHandshake = 1, kOneRtt = 2, kLevels = 3 };
    enum class Keys { Ready, Opened, Missing, Failed };

    struct Side {
        explicit Side(bool client, std::size_t cryptoHeld, QuicHeldBudget& budget)
            : fromClient(client),
              crypto{QuicOrderedBytes(cryptoHeld, &budget), QuicOrderedBytes(cryptoHeld, &budget)} {
        }
        bool fromClient;
        std::array<QuicDirectionKeys, kLevels> keys;
        std::array<QuicOrderedBytes, 2> crypto;  // Initial and Handshake CRYPTO data
        std::array<HandshakeAssembler, 2> handshake;
        std::array<bool, 2> handshakeRead{};  // what this level's messages tell was read
        // The key log's generation when keys were last looked for, plus one (0: never).
        std::array<std::uint64_t, kLevels> lookedAt{};
    };

    struct HeldPacket {
        bool fromClient = false;
        std::size_t dcidLength = 0;
        std::vector<std::uint8_t> bytes;
    };

    struct Stream {
        explicit Stream(QuicOrderedBytes ordered) : bytes(std::move(ordered)) {}
        QuicOrderedBytes bytes;
        bool aborted = false;
        bool done() const { return aborted || bytes.finished(); }
    };

    Side& side(bool fromClient) { return fromClient ? client_ : server_; }
    bool deriveInitialKeys(const QuicVersion& version, const QuicConnectionId& dcid);
    std::optional<QuicDirectionKeys::Opened> openInitial(const QuicPacketHeader& header,
                                                         std::span<const std::uint8_t> packet,
                                                         bool fromClient);
    void onProtected(const QuicPacketHeader& header, std::span<const std::uint8_t> packet,
                     bool fromClient, Level level, KeyLog& keys);
    Keys installKeys(Side& side, Level level, std::span<const std::uint8_t> packet,
                     std::size_t numberOffset, KeyLog& keys,
                     std::optional<QuicDirectionKeys::Opened>& opened);
    bool installFrom(const KeyLogSecrets& secrets, Side& side, Level level,
                     std::span<const std::uint8_t> packet, std::size_t numberOffset,
                     std::optional<QuicDirectionKeys::Opened>& opened);
    bool tryCandidates(Side& side, std::span<const std::uint8_t> packet, std::size_t numberOffset,
                       KeyLog& keys, std::optional<QuicDirectionKeys::Opened>& opened);
    void holdForKeys(const QuicPacketHeader& header, std::span<const std::uint8_t> packet,
                     bool fromClient, const KeyLog& keys);
    void dropHeld();

    void readFrames(std::span<const std::uint8_t> payload, bool fromClient, Level level);
    void onFrame(const QuicFrame& frame, bool fromClient, Level level);
    void onCrypto(const QuicFrame& frame, Side& side, Level level);
    void readHandshake(Side& side, Level level);
    bool onHandshakeMessage(Side& side, Level level, const HandshakeAssembler::Message& message);
    void onStream(const QuicFrame& frame, bool fromClient);
    void onResetStream(const QuicFrame& frame, bool fromClient);
    Stream* streamFor(std::uint64_t key);
    void pruneStreams();
    void learnId(bool madeByClient, std::span<const std::uint8_t> bytes);
    void fail(std::string reason);

    Limits limits_;
    QuicHeldBudget& budget_;
    const QuicVersion* version_;
    const QuicVersion* initialVersion_ = nullptr;  // what the Initial keys were derived for
    QuicConnectionId initialDcid_;
    Side client_;
    Side server_;
    std::unique_ptr<QuicConsumer> consumer_;
    std::optional<QuicEnd> ended_;
    std::string failure_;

    bool helloRead_ = false;
    ClientRandom keyRandom_{};  // what names the keys: the client random, or a claimed entry
    bool keyRandomClaimed_ = false;
    const TlsCipherSuite* suite_ = nullptr;  // from the ServerHello; else found by trial

    std::map<std::uint64_t, Stream> streams_;        // by class (type and side), then sequence
    std::array<std::uint64_t, 8> forgottenBelow_{};  // per class: sequences pruned when done

    std::deque<HeldPacket> held_;
    std::size_t heldBytes_ = 0;
    std::uint64_t heldGeneration_ = 0;  // the key log's generation when packets last waited
    bool replayWanted_ = false;         // keys came while packets waited
    bool keysGivenUp_ = false;          // the wait for keys passed its bound
    bool protectedSeen_ = false;        // a Handshake or 1-RTT packet came
    bool protectedOpened_ = false;
    bool closing_ = false;  // a CONNECTION_CLOSE was read

    std::vector<std::uint8_t> plain_;
    std::vector<NewId> newIds_;
    std::uint64_t packetsOpened_ = 0;
    std::uint64_t packetsDropped_ = 0;
    std::uint64_t keyUpdatesAtEnd_ = 0;
};

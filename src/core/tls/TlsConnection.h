#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/tls/ClientRandom.h"
#include "core/tls/HandshakeAssembler.h"
#include "core/tls/KeyLog.h"
#include "core/tls/SecretBytes.h"
#include "core/tls/TlsCipherSuite.h"
#include "core/tls/TlsPlaintextSink.h"
#include "core/tls/TlsRecordCipher.h"
#include "core/tls/TlsRecordStream.h"

// One TCP connection read as TLS: its two in-order byte streams are cut into records, the
// hellos read, and the protected records opened with the secrets of a KeyLog (TLS 1.3 and
// TLS 1.2 with AES-GCM or ChaCha20-Poly1305). Records that do not authenticate end the
// connection; nothing is ever guessed. Used by one thread at a time.
class TlsConnection {
  public:
    struct Limits {
        std::size_t heldWhileWaiting = 1 << 20;  // ciphertext held for keys not yet read
    };

    enum class State {
        Handshake,       // the hellos are being read; nothing was decrypted yet
        WaitingForKeys,  // protected records wait for secrets the key log does not hold yet
        Decrypting,      // records are being opened
        NoKeys,          // the keys never came; nothing more is read
        NotTls,          // the bytes are no TLS
        Failed,          // a record did not authenticate or broke the protocol; see failure()
    };

    // Two constructors rather than `Limits limits = {}`: g++ cannot use the default member
    // initializer of a nested struct before the enclosing class is complete.
    TlsConnection();
    explicit TlsConnection(Limits limits);
    TlsConnection(const TlsConnection&) = delete;
    TlsConnection& operator=(const TlsConnection&) = delete;
    TlsConnection(TlsConnection&&) = default;
    TlsConnection& operator=(TlsConnection&&) = default;

    // In-order bytes of one direction. Decrypts with `keys` when they are there; else holds the
    // ciphertext (bounded; over the bound: NoKeys, held bytes dropped).
    void feed(bool fromClient, std::span<const std::uint8_t> bytes, KeyLog& keys,
              TlsPlaintextSink& sink);
    // Keys may have arrived since (call when keys.generation() changed): decrypts what was held.
    void retry(KeyLog& keys, TlsPlaintextSink& sink);
    // The wait is over (the owner's timeout): held ciphertext dropped, state NoKeys. A
    // connection that is decrypting and waits for nothing goes on.
    void stopWaiting();

    State state() const;
    std::string_view serverName() const { return serverName_; }
    // The protocol chosen (EncryptedExtensions in TLS 1.3, ServerHello in 1.2); before or
    // without it, the client's first offer.
    std::string_view alpn() const { return chosenAlpn_.empty() ? offeredAlpn_ : chosenAlpn_; }
    std::uint16_t version() const { return version_; }
    std::uint16_t cipherSuite() const { return cipherSuite_; }
    // Why the state is Failed, NotTls or NoKeys, in English for logs.
    std::string_view failure() const { return failure_; }

  private:
    enum class Step { Next, Stall, Stop };
    enum class Phase {
        Hello,        // reading this side's hello
        AwaitServer,  // the client's hello was read; what follows depends on the server's
        Plain,        // TLS 1.2 between the hellos and ChangeCipherSpec
        Protected,    // records are encrypted
        Closed,       // an alert ended this side; the rest is ignored
    };
    enum class Wait { None, Peer, Keys };
    enum class Keys { Ready, Missing, NeedPeer, Failed };

    struct Direction {
        explicit Direction(bool client) : fromClient(client) {}
        bool fromClient;
        TlsRecordStream records;
        HandshakeAssembler handshake;
        TlsRecordCipher cipher;
        SecretBytes trafficSecret;  // TLS 1.3: the secret of the current key, for KeyUpdate
        std::vector<std::uint8_t> plain;
        Phase phase = Phase::Hello;
        Wait wait = Wait::None;
        bool applicationKeys = false;  // TLS 1.3: past this side's Finished
        std::uint64_t recordCount = 0;
        std::uint64_t keysGeneration = 0;  // the key log's generation when keys were missing
    };

    bool pump(Direction& side, std::span<const std::uint8_t> bytes, KeyLog& keys,
              TlsPlaintextSink& sink);
    void pumpHeld(KeyLog& keys, TlsPlaintextSink& sink);
    void holdWhileWaiting(Direction& side);

    Step handleRecord(Direction& side, const TlsRecordStream::Record& record, KeyLog& keys,
                      TlsPlaintextSink& sink);
    Step helloRecord(Direction& side, const TlsRecordStream::Record& record);
    Step clientHello(Direction& side, const HandshakeAssembler::Message& message);
    Step serverHello(Direction& side, const HandshakeAssembler::Message& message);
    Step awaitServer(Direction& side, const TlsRecordStream::Record& record, KeyLog& keys,
                     TlsPlaintextSink& sink);
    Step plainRecord(Direction& side, const TlsRecordStream::Record& record);
    Step protectedRecord(Direction& side, const TlsRecordStream::Record& record, KeyLog& keys,
                         TlsPlaintextSink& sink);
    Step openRecord(Direction& side, const TlsRecordStream::Record& record, KeyLog& keys,
                    TlsPlaintextSink& sink);
    Step deliver(Direction& side, std::uint8_t type, std::span<const std::uint8_t> content,
                 TlsPlaintextSink& sink);
    Step protectedHandshake(Direction& side);
    Step keyUpdate(Direction& side);

    Keys installKeys(Direction& side, const TlsRecordStream::Record& record, KeyLog& keys,
                     std::optional<std::size_t>& opened);
    bool tryCandidates(Direction& side, const TlsRecordStream::Record& record, KeyLog& keys,
                       std::optional<std::size_t>& opened);
    const SecretBytes& secretFor(const Direction& side, const KeyLogSecrets& secrets) const;
    bool installSecret(Direction& side, const SecretBytes& secret);
    bool isTls13() const { return version_ == TlsCipherSuite::kTls13; }

    Step fail(State state, std::string reason);
    Step failOn(const Direction& side, std::string_view what);

    Limits limits_;
    Direction client_{true};
    Direction server_{false};
    std::optional<State> ended_;
    std::string failure_;

    int clientHellos_ = 0;
    ClientRandom clientRandom_{};
    ClientRandom keyRandom_{};  // what names the keys: the client random, or a claimed entry
    bool keyRandomClaimed_ = false;
    std::array<std::uint8_t, 32> serverRandom_{};
    bool retryRequested_ = false;
    std::uint16_t version_ = 0;
    std::uint16_t cipherSuite_ = 0;
    const TlsCipherSuite* suite_ = nullptr;
    bool opened_ = false;
    std::string serverName_;
    std::string offeredAlpn_;
    std::string chosenAlpn_;
};

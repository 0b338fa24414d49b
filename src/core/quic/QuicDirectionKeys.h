#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "core/quic/QuicHeaderProtection.h"
#include "core/quic/QuicVersion.h"
#include "core/tls/SecretBytes.h"
#include "core/tls/TlsCipherSuite.h"
#include "core/tls/TlsRecordCipher.h"

// Opens the packets of one direction at one encryption level (Initial, Handshake or 1-RTT):
// header protection, packet number and AEAD, all from one TLS secret. 1-RTT keys change with
// the key phase bit: the next phase's keys ("quic ku") are ready before the peer uses them, and
// the previous phase's stay for packets that arrive late across an update.
class QuicDirectionKeys {
  public:
    struct Opened {
        std::uint64_t number = 0;
        std::span<const std::uint8_t> payload;  // the frames, inside the caller's `out`
    };

    bool install(const TlsCipherSuite& suite, const QuicVersion& version,
                 std::span<const std::uint8_t> secret);
    void reset();
    bool ready() const { return protection_.ready(); }
    // Packet numbers decode relative to the largest opened so far; a reader that joins a
    // connection midway sets it.
    void setLargest(std::uint64_t number) { largest_ = static_cast<std::int64_t>(number); }
    // Key updates seen since install.
    std::uint64_t updates() const { return updates_; }

    // Opens `packet` (its whole bytes; the header protected) into `out` (at least as large).
    // nullopt when it does not authenticate; the keys are then as they were.
    std::optional<Opened> open(std::span<const std::uint8_t> packet, std::size_t numberOffset,
                               std::span<std::uint8_t> out);

  private:
    struct Phase {
        TlsRecordCipher cipher;
        SecretBytes secret;
    };

    bool derivePhase(std::span<const std::uint8_t> secret, Phase& phase);
    bool unmaskHeader(std::span<const std::uint8_t> packet, std::size_t numberOffset,
                      std::size_t& numberLength);
    Phase* phaseFor(bool keyPhase, std::uint64_t number, bool& updates);
    void advancePhase(std::uint64_t firstNumber);

    const TlsCipherSuite* suite_ = nullptr;
    const QuicVersion* version_ = nullptr;
    QuicHeaderProtection protection_;
    Phase previous_, current_, next_;
    bool keyPhase_ = false;           // the bit the current keys go with
    std::int64_t largest_ = -1;       // the largest packet number opened
    std::uint64_t currentFirst_ = 0;  // the first packet number opened with the current keys
    std::uint64_t updates_ = 0;
    std::vector<std::uint8_t> header_;  // the header with its protection removed
};

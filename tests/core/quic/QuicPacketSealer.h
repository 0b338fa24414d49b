#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "core/quic/QuicConnectionId.h"
#include "core/quic/QuicPacketType.h"
#include "core/quic/QuicVersion.h"
#include "core/tls/TlsCipherSuite.h"

// Seals QUIC packets as an endpoint does, for tests: AEAD and header protection with the keys
// of one secret, through OpenSSL. Packet numbers always take 4 bytes.
class QuicPacketSealer {
  public:
    QuicPacketSealer(const QuicVersion& version, const TlsCipherSuite& suite,
                     std::span<const std::uint8_t> secret);

    std::vector<std::uint8_t> seal(QuicPacketType type, const QuicConnectionId& dcid,
                                   const QuicConnectionId& scid, std::uint64_t number,
                                   std::span<const std::uint8_t> frames) const;
    // The next key phase ("quic ku"): 1-RTT packets sealed after it carry the flipped bit.
    void update();

  private:
    void deriveKeys();
    std::vector<std::uint8_t> header(QuicPacketType type, const QuicConnectionId& dcid,
                                     const QuicConnectionId& scid, std::size_t sealedLength) const;

    const QuicVersion& version_;
    const TlsCipherSuite& suite_;
    std::vector<std::uint8_t> secret_, key_, iv_, hp_;
    bool keyPhase_ = false;
};

// Frames and handshake messages, built for tests.
namespace quic_frames {
std::vector<std::uint8_t> varint(std::uint64_t value);
std::vector<std::uint8_t> crypto(std::uint64_t offset, std::span<const std::uint8_t> data);
std::vector<std::uint8_t> stream(std::uint64_t id, std::uint64_t offset, const std::string& data,
                                 bool fin);
std::vector<std::uint8_t> newConnectionId(std::uint64_t sequence, const QuicConnectionId& id);
std::vector<std::uint8_t> connectionClose();
// A ClientHello with a server name, "h3" offered and `padding` extension bytes (a large key
// share makes a hello span several packets).
std::vector<std::uint8_t> clientHello(const std::uint8_t (&random)[32], const std::string& name,
                                      std::size_t padding);
std::vector<std::uint8_t> serverHello(std::uint16_t suite);
std::vector<std::uint8_t> encryptedExtensions(const std::string& alpn);
}  // namespace quic_frames

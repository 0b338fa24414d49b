#pragma once

#include <cstdint>
#include <span>

// Where a TlsConnection puts what it decrypted.
class TlsPlaintextSink {
  public:
    virtual ~TlsPlaintextSink() = default;
    // Decrypted application data of one direction, in order.
    virtual void onApplicationData(bool fromClient, std::span<const std::uint8_t> bytes) = 0;
};

#pragma once

#include <cstdint>

// The kinds of QUIC packet, whatever bits a version gives them on the wire.
enum class QuicPacketType : std::uint8_t { Initial, ZeroRtt, Handshake, Retry, OneRtt };

#pragma once

#include <cstdint>
#include <span>

#include "core/quic/QuicVersion.h"
#include "core/tls/SecretBytes.h"
#include "core/tls/TlsCipherSuite.h"

// The secrets of the Initial packets, which anyone can derive from the Destination Connection ID
// of the client's first Initial: no key log is needed to read the hellos.
struct QuicInitialSecrets {
    SecretBytes client;
    SecretBytes server;

    // Initial packets are always sealed with this suite.
    static const TlsCipherSuite& suite();
    static bool derive(const QuicVersion& version, std::span<const std::uint8_t> clientDcid,
                       QuicInitialSecrets& out);
};

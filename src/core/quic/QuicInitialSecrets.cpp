#include "core/quic/QuicInitialSecrets.h"

#include "core/tls/TlsKeyDerivation.h"

const TlsCipherSuite& QuicInitialSecrets::suite() {
    static const TlsCipherSuite* const aes128 =
        TlsCipherSuite::find(0x1301, TlsCipherSuite::kTls13);
    return *aes128;
}

bool QuicInitialSecrets::derive(const QuicVersion& version,
                                std::span<const std::uint8_t> clientDcid, QuicInitialSecrets& out) {
    const TlsCipherSuite& aes128 = suite();
    SecretBytes initial;
    return TlsKeyDerivation::extract(aes128.digest, version.initialSalt, clientDcid,
                                     initial.writable(aes128.hashLength)) &&
           TlsKeyDerivation::expandLabel(aes128.digest, initial.bytes(), "client in",
                                         out.client.writable(aes128.hashLength)) &&
           TlsKeyDerivation::expandLabel(aes128.digest, initial.bytes(), "server in",
                                         out.server.writable(aes128.hashLength));
}

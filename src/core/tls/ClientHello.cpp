#include "core/tls/ClientHello.h"

#include <algorithm>

#include "core/tls/ByteReader.h"
#include "core/tls/TlsExtensions.h"

std::optional<ClientHello> ClientHello::parse(std::span<const std::uint8_t> body) {
    ByteReader reader(body);
    ClientHello hello;
    std::uint16_t legacyVersion = 0;
    std::span<const std::uint8_t> random, sessionId, cipherSuites, compressions;
    if (!reader.u16(legacyVersion) || !reader.bytes(hello.random.size(), random) ||
        !reader.vector(1, sessionId) || sessionId.size() > 32 || !reader.vector(2, cipherSuites) ||
        !reader.vector(1, compressions)) {
        return std::nullopt;
    }
    std::copy(random.begin(), random.end(), hello.random.begin());
    if (reader.empty()) {
        return hello;  // no extensions at all
    }
    std::span<const std::uint8_t> extensions;
    if (!reader.vector(2, extensions)) {
        return std::nullopt;
    }
    bool wellFormed = TlsExtensions::forEach(
        extensions, [&hello](std::uint16_t type, std::span<const std::uint8_t> data) {
            if (type == TlsExtensions::kServerName) {
                return TlsExtensions::hostName(data, hello.serverName);
            }
            if (type == TlsExtensions::kAlpn) {
                return TlsExtensions::alpnProtocols(data, hello.alpnOffers, kMaxAlpnOffers);
            }
            return true;
        });
    if (!wellFormed) {
        return std::nullopt;
    }
    return hello;
}

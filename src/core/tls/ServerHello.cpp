#include "core/tls/ServerHello.h"

#include <algorithm>
#include <vector>

#include "core/tls/ByteReader.h"
#include "core/tls/TlsExtensions.h"

namespace {

// A HelloRetryRequest is a ServerHello with this random: SHA-256 of "HelloRetryRequest".
constexpr std::array<std::uint8_t, 32> kRetryRequestRandom = {
    0xCF, 0x21, 0xAD, 0x74, 0xE5, 0x9A, 0x61, 0x11, 0xBE, 0x1D, 0x8C, 0x02, 0x1E, 0x65, 0xB8, 0x91,
    0xC2, 0xA2, 0x11, 0x16, 0x7A, 0xBB, 0x8C, 0x5E, 0x07, 0x9E, 0x09, 0xE2, 0xC8, 0xA8, 0x33, 0x9C};

}  // namespace

std::optional<ServerHello> ServerHello::parse(std::span<const std::uint8_t> body) {
    ByteReader reader(body);
    ServerHello hello;
    std::span<const std::uint8_t> random, sessionId;
    std::uint8_t compression = 0;
    if (!reader.u16(hello.version) || !reader.bytes(hello.random.size(), random) ||
        !reader.vector(1, sessionId) || sessionId.size() > 32 || !reader.u16(hello.cipherSuite) ||
        !reader.u8(compression)) {
        return std::nullopt;
    }
    std::copy(random.begin(), random.end(), hello.random.begin());
    hello.retryRequest = hello.random == kRetryRequestRandom;
    if (reader.empty()) {
        return hello;
    }
    std::span<const std::uint8_t> extensions;
    if (!reader.vector(2, extensions)) {
        return std::nullopt;
    }
    bool wellFormed = TlsExtensions::forEach(
        extensions, [&hello](std::uint16_t type, std::span<const std::uint8_t> data) {
            if (type == TlsExtensions::kSupportedVersions) {
                ByteReader versions(data);
                return versions.u16(hello.version) && versions.empty();
            }
            if (type == TlsExtensions::kAlpn) {
                std::vector<std::string> names;
                bool ok = TlsExtensions::alpnProtocols(data, names, 1) && !names.empty();
                hello.alpn = ok ? names.front() : std::string();
                return ok;
            }
            return true;
        });
    if (!wellFormed) {
        return std::nullopt;
    }
    return hello;
}

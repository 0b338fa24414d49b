#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "core/tls/ByteReader.h"

// The hello extensions a reader of the traffic needs: host name, protocols, version.
class TlsExtensions {
  public:
    static constexpr std::uint16_t kServerName = 0;
    static constexpr std::uint16_t kAlpn = 16;
    static constexpr std::uint16_t kSupportedVersions = 43;
    static constexpr std::size_t kMaxHostName = 255;

    // Calls visit(type, data) for each extension of `block` (the vector's contents); false when
    // the block is malformed or `visit` says so.
    template <class Visit>
    static bool forEach(std::span<const std::uint8_t> block, Visit&& visit) {
        ByteReader reader(block);
        while (!reader.empty()) {
            std::uint16_t type = 0;
            std::span<const std::uint8_t> data;
            if (!reader.u16(type) || !reader.vector(2, data) || !visit(type, data)) {
                return false;
            }
        }
        return true;
    }

    // The protocol names of an ALPN extension, at most `maxCount` of them.
    static bool alpnProtocols(std::span<const std::uint8_t> data, std::vector<std::string>& out,
                              std::size_t maxCount);
    // The host name of a server_name extension; empty when it holds none we can show.
    static bool hostName(std::span<const std::uint8_t> data, std::string& out);
    // The ALPN protocol an EncryptedExtensions message chose; empty when none.
    static bool chosenAlpn(std::span<const std::uint8_t> encryptedExtensions, std::string& out);
};

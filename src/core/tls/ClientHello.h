#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/tls/ClientRandom.h"

// What a ClientHello tells a reader of the traffic.
struct ClientHello {
    static constexpr std::size_t kMaxAlpnOffers = 16;

    ClientRandom random{};
    std::string serverName;               // SNI host name; empty when none
    std::vector<std::string> alpnOffers;  // in the client's order of preference

    // Parses a ClientHello message body (after its 4-byte header); nullopt when malformed.
    static std::optional<ClientHello> parse(std::span<const std::uint8_t> body);
};

#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The server of an MMS stream as named by a record's `host` text: "mms://name",
// "mmst://name:port", "mmsu://…" or "msst://…" (scheme case-insensitive), or a bare
// "name[:port]". IPv6 literals are written in brackets. The port is 1755 unless given.
struct MmsServerAddress {
    std::string name;
    std::uint16_t port = 1755;

    // nullopt for another scheme, an empty name or a port outside 1..65535.
    static std::optional<MmsServerAddress> FromHost(std::string_view host);
};

#include "helper/HelperArguments.h"

#include <arpa/inet.h>

#include <charconv>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace {

// A port number from 1 to 65535 added to `ports`; false when it is not one or the list is full.
template <typename Ports>
bool addPort(std::string_view text, Ports& ports) {
    std::uint16_t port = 0;
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, port);
    return ec == std::errc() && ptr == end && !text.empty() && ports.add(port);
}

}  // namespace

std::optional<HelperArguments> HelperArguments::parse(int argc, char** argv, std::string& error) {
    HelperArguments parsed;
    bool haveAddress = false;
    for (int i = 1; i < argc; ++i) {
        std::string_view option = argv[i];
        if (option == "--promiscuous" && !parsed.promiscuous) {
            parsed.promiscuous = true;
            continue;
        }
        if (i + 1 >= argc) {
            error = "unknown or incomplete option " + std::string(option);
            return std::nullopt;
        }
        std::string_view value = argv[++i];
        if (option == "--address" && !haveAddress) {
            // IPv4, or the IPv6 address of an adapter that has no IPv4 one.
            if (inet_pton(AF_INET, argv[i], parsed.adapter.address) != 1 &&
                inet_pton(AF_INET6, argv[i], parsed.adapter.address6) != 1) {
                error = "not an IP address: " + std::string(value);
                return std::nullopt;
            }
            haveAddress = true;
        } else if (option == "--port" || option == "--tls-port") {
            const bool added =
                option == "--port" ? addPort(value, parsed.ports) : addPort(value, parsed.tlsPorts);
            if (!added) {
                error =
                    "not a port, or too many: " + std::string(option) + " " + std::string(value);
                return std::nullopt;
            }
        } else {
            error = "unknown or repeated option " + std::string(option);
            return std::nullopt;
        }
    }
    if (!haveAddress) {
        error =
            "usage: quorvex-capture --address IP [--promiscuous] [--port N]... [--tls-port N]...";
        return std::nullopt;
    }
    return parsed;
}

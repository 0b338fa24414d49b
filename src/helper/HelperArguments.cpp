#include "helper/HelperArguments.h"

#include <arpa/inet.h>

#include <cstring>
#include <string_view>

namespace {

constexpr std::size_t kMaxFilterLength = 4096;

}  // namespace

std::optional<HelperArguments> HelperArguments::parse(int argc, char** argv, std::string& error) {
    HelperArguments parsed;
    bool haveAddress = false;
    bool haveFilter = false;
    bool havePlainFilter = false;
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
        } else if ((option == "--filter" && !haveFilter) ||
                   (option == "--plain-filter" && !havePlainFilter)) {
            if (value.empty() || value.size() > kMaxFilterLength) {
                error = "a filter must have 1 to 4096 characters";
                return std::nullopt;
            }
            bool ethernet = option == "--filter";
            (ethernet ? parsed.ethernetFilter : parsed.plainFilter) = std::string(value);
            (ethernet ? haveFilter : havePlainFilter) = true;
        } else {
            error = "unknown or repeated option " + std::string(option);
            return std::nullopt;
        }
    }
    if (!haveAddress || !haveFilter || !havePlainFilter) {
        error =
            "usage: quorvex-capture --address IP [--promiscuous] --filter EXPR "
            "--plain-filter EXPR";
        return std::nullopt;
    }
    return parsed;
}

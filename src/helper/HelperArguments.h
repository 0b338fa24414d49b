#pragma once

#include <optional>
#include <string>

#include "core/capture/AdapterEntry.h"

// The helper's command line, as the parent builds it:
//   quorvex-capture --address IP [--promiscuous] --filter EXPR --plain-filter EXPR
// (IP: the adapter's IPv4 address, or its IPv6 address when it has no IPv4 one)
// Every option once, nothing else: the helper is privileged and accepts no more than it needs.
struct HelperArguments {
    AdapterEntry adapter{};
    bool promiscuous = false;
    std::string ethernetFilter;
    std::string plainFilter;

    // The arguments, or nothing with `error` set.
    static std::optional<HelperArguments> parse(int argc, char** argv, std::string& error);
};

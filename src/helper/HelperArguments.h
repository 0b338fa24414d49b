#pragma once

#include <optional>
#include <string>

#include "core/capture/AdapterEntry.h"
#include "core/detect/TlsPorts.h"
#include "core/detect/WatchedPorts.h"

// The helper's command line, as the parent builds it:
//   quorvex-capture --address IP [--promiscuous] [--port N]... [--tls-port N]...
// (IP: the adapter's IPv4 address, or its IPv6 address when it has no IPv4 one; the ports
// added to the always watched ones, each list as long as its class allows). The helper makes
// its kernel filter from the port numbers itself: it is privileged and takes no expression.
struct HelperArguments {
    AdapterEntry adapter{};
    bool promiscuous = false;
    WatchedPorts ports;
    TlsPorts tlsPorts;

    // The arguments, or nothing with `error` set.
    static std::optional<HelperArguments> parse(int argc, char** argv, std::string& error);
};

#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "cli/StreamPrinter.h"
#include "core/detect/TlsPorts.h"
#include "core/detect/WatchedPorts.h"

class CliArgs;

// What `quorvex-cli detect` was asked to do, read from its arguments and checked.
struct DetectOptions {
    std::string pcapPath;   // "-" for standard input
    std::string inputName;  // how messages name the input
    std::optional<std::string> suffixPath;
    std::optional<std::string> keyLogPath;
    WatchedPorts ports;
    TlsPorts tlsPorts;
    std::optional<std::uint64_t> maxStreams;
    StreamPrinter::Format format = StreamPrinter::Format::Text;
    bool all = false;
    bool cookieReuse = false;

    bool fromStandardInput() const { return pcapPath == "-"; }

    // The options; nullopt with `error` set to the first bad or missing one.
    static std::optional<DetectOptions> read(CliArgs& args, std::string& error);
};

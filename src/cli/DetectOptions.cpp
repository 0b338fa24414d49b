#include "cli/DetectOptions.h"

#include "cli/CliArgs.h"
#include "cli/DroppedStreams.h"
#include "cli/OutputFormat.h"

std::optional<DetectOptions> DetectOptions::read(CliArgs& args, std::string& error) {
    DetectOptions options;
    options.maxStreams = args.number("max-streams", 1, kMaxStreamsLimit);
    std::optional<WatchedPorts> watched = args.watchedPorts();
    std::optional<TlsPorts> tlsPorts = args.ok() ? args.tlsPorts() : std::nullopt;
    if (!args.ok()) {
        error = args.error();
        return std::nullopt;
    }
    std::optional<StreamPrinter::Format> format = OutputFormat::choose(args, error);
    if (!format) {
        return std::nullopt;
    }
    std::optional<std::string> pcapPath = args.value("pcap");
    if (!pcapPath) {
        error = "--pcap FILE is required (see --help)";
        return std::nullopt;
    }
    options.pcapPath = *pcapPath;
    options.inputName = options.fromStandardInput() ? "standard input" : *pcapPath;
    options.suffixPath = args.value("suffix-file");
    options.keyLogPath = args.value("keylog");
    options.ports = *watched;
    options.tlsPorts = *tlsPorts;
    options.format = *format;
    options.all = args.has("all");
    options.cookieReuse = args.has("cookie-reuse");
    return options;
}

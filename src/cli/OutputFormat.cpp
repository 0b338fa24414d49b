#include "cli/OutputFormat.h"

#include "cli/CliArgs.h"

std::optional<StreamPrinter::Format> OutputFormat::choose(const CliArgs& args, std::string& error) {
    std::optional<std::string> tool = args.value("as");
    if (!tool) {
        return args.has("json") ? StreamPrinter::Format::Json : StreamPrinter::Format::Text;
    }
    if (args.has("json")) {
        error = "--json and --as exclude each other";
        return std::nullopt;
    }
    if (*tool == "curl") {
        return StreamPrinter::Format::Curl;
    }
    if (*tool == "ffmpeg") {
        return StreamPrinter::Format::Ffmpeg;
    }
    if (*tool == "yt-dlp") {
        return StreamPrinter::Format::YtDlp;
    }
    error = "--as takes curl, ffmpeg or yt-dlp";
    return std::nullopt;
}

#pragma once

#include <optional>
#include <string>

#include "cli/StreamPrinter.h"

class CliArgs;

// The row format that detect and monitor print: text, --json, or --as curl|ffmpeg|yt-dlp.
class OutputFormat {
  public:
    // The format the arguments ask for; nullopt with `error` set for an unknown tool or for
    // --json together with --as.
    static std::optional<StreamPrinter::Format> choose(const CliArgs& args, std::string& error);
};

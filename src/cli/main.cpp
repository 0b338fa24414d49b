#include <cstdio>
#include <cstring>

#include "cli/CliCommands.h"

namespace {

struct Command {
    const char* name;
    int (*run)(int, char**);
    const char* summary;
};

constexpr Command kCommands[] = {
    {"detect", runDetect, "find streams in a capture file"},
    {"adapters", runAdapters, "list the adapters that can be monitored"},
    {"monitor", runMonitor, "watch one adapter and list streams as they pass"},
    {"download", runDownload, "download one stream (http, https, mms, mmst, mmsu)"},
    {"browser", runBrowser, "start a browser that writes its TLS keys for monitor --keylog"},
};

void printUsage(std::FILE* out) {
    std::fprintf(out,
                 "usage: quorvex-cli COMMAND [OPTIONS]\n"
                 "       quorvex-cli --help | --version\n\ncommands:\n");
    for (const Command& command : kCommands) {
        std::fprintf(out, "  %-10s %s\n", command.name, command.summary);
    }
    std::fprintf(out, "\nquorvex-cli COMMAND --help describes each command.\n");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        printUsage(stderr);
        return 2;
    }
    if (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
        printUsage(stdout);
        return 0;
    }
    if (std::strcmp(argv[1], "--version") == 0) {
        std::printf("quorvex-cli %s\n", QUORVEX_VERSION);
        return 0;
    }
    for (const Command& command : kCommands) {
        if (std::strcmp(argv[1], command.name) == 0) {
            return command.run(argc - 2, argv + 2);
        }
    }
    std::fprintf(stderr, "quorvex-cli: unknown command '%s' (see --help)\n", argv[1]);
    return 2;
}

#include <cstdio>

#include "cli/CliCommands.h"

int runDownload(int, char**) {
    std::fprintf(stderr, "quorvex-cli download: not available yet\n");
    return 2;
}

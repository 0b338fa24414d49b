#include <cstdio>

#include "cli/CliCommands.h"

int runAdapters(int, char**) {
    std::fprintf(stderr, "quorvex-cli adapters: not available yet\n");
    return 2;
}

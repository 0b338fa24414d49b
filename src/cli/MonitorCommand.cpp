#include <cstdio>

#include "cli/CliCommands.h"

int runMonitor(int, char**) {
    std::fprintf(stderr, "quorvex-cli monitor: not available yet\n");
    return 2;
}

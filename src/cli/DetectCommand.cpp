#include <cstdio>

#include "cli/CliCommands.h"

int runDetect(int, char**) {
    std::fprintf(stderr, "quorvex-cli detect: not available yet\n");
    return 2;
}

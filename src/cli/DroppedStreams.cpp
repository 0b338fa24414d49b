#include "cli/DroppedStreams.h"

#include <cstdio>

#include "core/session/MonitorSession.h"

void printDroppedStreams(const char* command, const MonitorSession& session) {
    const std::uint64_t dropped = session.droppedStreams();
    if (dropped == 0) {
        return;
    }
    const auto count = static_cast<unsigned long long>(dropped);
    if (session.rowCount() >= session.rowLimit()) {
        std::fprintf(stderr,
                     "quorvex-cli %s: %llu new streams dropped: the list holds at most %d rows "
                     "(--max-streams)\n",
                     command, count, session.rowLimit());
    } else {
        std::fprintf(stderr,
                     "quorvex-cli %s: %llu new streams dropped: no memory for more than %d rows\n",
                     command, count, session.rowCount());
    }
}

#include "cli/DroppedStreams.h"

#include <cstdio>
#include <string>

#include "cli/TerminalText.h"
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

void printUnreadConnections(const char* command, const SecureTrafficReader::Summary& summary) {
    const std::uint64_t unread = summary.withoutKeysCount();
    if (unread == 0) {
        return;
    }
    // Server names come from the wire.
    std::string names;
    for (const auto& [name, count] : summary.withoutKeys) {
        names += names.empty() ? " " : ", ";
        names += name.empty() ? std::string("(no server name)") : TerminalText::escaped(name);
        names += " (" + std::to_string(count) + ")";
    }
    std::fprintf(stderr,
                 "quorvex-cli %s: %llu encrypted connections could not be read without keys "
                 "(--keylog):%s\n",
                 command, static_cast<unsigned long long>(unread), names.c_str());
}

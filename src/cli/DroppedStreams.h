#pragma once

#include <cstdint>

#include "core/session/SecureTrafficReader.h"

class MonitorSession;

// The largest --max-streams: rows are counted in an int, and a list this long already takes
// tens of gigabytes.
inline constexpr std::uint64_t kMaxStreamsLimit = 100'000'000;

// Tells on stderr how many new streams the session's list did not take (full, or out of
// memory); prints nothing when none was dropped.
void printDroppedStreams(const char* command, const MonitorSession& session);

// Tells on stderr how many TLS connections could not be read for want of keys, by server
// name; prints nothing when every one was read.
void printUnreadConnections(const char* command, const SecureTrafficReader::Summary& summary);

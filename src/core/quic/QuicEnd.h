#pragma once

// Why the table stopped following a QUIC connection.
enum class QuicEnd {
    Closed,      // a CONNECTION_CLOSE was read
    Idle,        // no packet for the idle time
    Evicted,     // the table was full and this one was the least recently active
    Shutdown,    // the table ended every connection
    NoKeys,      // it ended without the key log ever opening its protected packets
    Unreadable,  // a frame could not be read, or data broke the protocol or a bound
    GivenUp,     // its consumer asked to stop
};

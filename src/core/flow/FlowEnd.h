#pragma once

#include <cstdint>

// Why the following of a connection ended.
enum class FlowEnd : std::uint8_t {
    Closed,       // FIN both ways, or RST, with every byte before them delivered
    Idle,         // no packet for the idle time
    Gap,          // bytes were lost by the capture: the stream cannot go on without inventing them
                  // (in a direction the consumer would not give up, or in both)
    HeldTooMuch,  // out-of-order bytes waiting for a hole went over the bound
    TableFull,    // evicted to make room for a newer connection
    GivenUp,      // the consumer asked to stop
    Shutdown,     // the table was emptied or destroyed
};

#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "core/flow/FlowConsumer.h"
#include "core/flow/FlowInfo.h"
#include "core/flow/FlowKey.h"
#include "core/flow/FlowSide.h"

// One 4-tuple in the flow table. Without a consumer it is not followed (declined, or ended) and
// only waits for a new SYN, its idle time or its eviction.
struct TcpConnection {
    FlowKey key;
    FlowInfo info;
    std::unique_ptr<FlowConsumer> consumer;
    bool clientFirst = false;  // whether the client is the key's first endpoint
    FlowSide sides[2];         // indexed by FlowDirection: the client's bytes, the server's
    std::size_t heldCharge = 0;
    std::uint64_t lastSeen = 0;
    // Least recently active first; the entries of an unordered_map do not move.
    TcpConnection* older = nullptr;
    TcpConnection* newer = nullptr;

    FlowSide& side(FlowDirection direction) { return sides[static_cast<int>(direction)]; }
    const FlowSide& side(FlowDirection direction) const {
        return sides[static_cast<int>(direction)];
    }
};

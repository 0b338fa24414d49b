#pragma once

#include <cstdint>
#include <string_view>

#include "core/http/Http2Settings.h"

// What reading one direction's HTTP/2 frames found next.
struct Http2Event {
    enum class Kind {
        NeedBytes,    // all given bytes are used
        BlockStart,   // a header block begins
        Field,        // one field of the open block
        BlockEnd,     // the block is complete
        Settings,     // a SETTINGS frame from this direction
        SettingsAck,  // this direction acknowledged the other's oldest SETTINGS
        StreamReset,  // RST_STREAM
        Failed,
    };
    Kind kind = Kind::NeedBytes;
    // BlockStart: the stream the head is for (a push's promised stream); StreamReset.
    std::uint32_t stream = 0;
    bool promise = false;    // BlockStart: a PUSH_PROMISE, so a request head from the server
    std::string_view name;   // Field, valid until the next call
    std::string_view value;  // Field
    Http2Settings settings;  // Settings
};

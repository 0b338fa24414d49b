#pragma once

#include <cstdint>
#include <string>

#include "core/download/record/RecordKind.h"

// What the recorder program is asked to record, sent once on its standard input. The login,
// if any, is inside `url`: it never appears on a command line.
struct RecordRequest {
    RecordKind kind = RecordKind::kNone;
    bool live = false;      // as the playlist's probe found; RTSP always
    bool seekable = false;  // the output descriptor is a file the muxer may seek in
    std::uint32_t stallSeconds = 120;
    std::string url;
    std::string referer;
    std::string userAgent;
    std::string caFile;      // the authorities trusted for https; empty: the system's
    std::string proxy;       // an HTTP proxy URL; empty: none
    std::string targetName;  // the target's file name: its suffix names the container
};

#pragma once

#include <string>
#include <string_view>

#include "core/download/record/RecordKind.h"

// What a recording needs to know of a playlist's text before it starts: whether it is one at
// all, whether it has an end, whether it is protected, and (for an HLS master playlist) which
// variant has the highest bandwidth. The text comes from the network: it is only scanned, never
// trusted for sizes.
struct PlaylistFacts {
    bool isPlaylist = false;   // an HLS playlist ("#EXTM3U") or a DASH manifest ("<MPD")
    bool live = false;         // no "#EXT-X-ENDLIST" (HLS), type="dynamic" (DASH)
    bool isMaster = false;     // an HLS playlist of variants
    bool isProtected = false;  // a DRM key or a DASH ContentProtection
    std::string bestVariant;   // the URI of the variant with the highest BANDWIDTH, as written
    long bestBandwidth = -1;

    // Reads `text` as `kind` (kHls or kDash).
    static PlaylistFacts Read(RecordKind kind, std::string_view text);

    // An HLS key line ("#EXT-X-KEY:..." or "#EXT-X-SESSION-KEY:...") that only a DRM system
    // opens: a METHOD other than NONE or AES-128, or a KEYFORMAT other than "identity".
    static bool IsDrmKeyLine(std::string_view line);
};

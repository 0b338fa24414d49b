#pragma once

#include <string>

#include "core/download/record/PlaylistFacts.h"
#include "core/download/record/RecordKind.h"

// One look at a playlist before it is recorded: fetches its text (and, for an HLS master
// playlist, the best variant's) and reads its facts. Blocking, bounded in time and size; the
// caller's thread waits. Used by the recording worker and by a save dialog that proposes a
// container.
class PlaylistProbe {
  public:
    struct Request {
        std::string url;
        std::string userAgent;
        std::string referer;
        std::string caFile;  // the authorities trusted for https; empty: the system's
        long timeoutSeconds = 20;
        // Ends the fetch early when it returns true; may be empty.
        bool (*stop)(void* context) = nullptr;
        void* stopContext = nullptr;
    };
    struct Result {
        int curlCode = 0;       // 0 when the fetch worked
        bool tooLarge = false;  // a text went past kTextLimit: no facts are read from it
        long status = 0;        // the HTTP status of the last response
        std::string detail;     // libcurl's words, or the status line, without control bytes
        RecordKind kind = RecordKind::kNone;  // as the URL or Content-Type says
        PlaylistFacts facts;
        std::string mediaUrl;  // the best variant's URL, or the URL itself
    };

    // Fetches `request.url` as `kind` (kNone: as its Content-Type says).
    static Result Run(const Request& request, RecordKind kind);

    // Whether a stream is live, asked without a recording: true for RTSP, and for a playlist
    // that cannot be read (a live one is the safe guess for the proposed container).
    static bool LooksLive(const std::string& url, RecordKind kind, long timeoutSeconds);

    // Texts larger than this are not playlists that this program records; no more of one is
    // ever held.
    static constexpr std::size_t kTextLimit = 4 * 1024 * 1024;
};

#pragma once

#include <string_view>

// Which streams are recorded through the media libraries rather than fetched byte for byte,
// and the container a recording is proposed in. Pure decisions, shared by every front end.
enum class RecordKind {
    kNone,  // an ordinary file: downloaded as it is
    kHls,   // an HLS playlist
    kDash,  // a DASH manifest
    kRtsp,  // an RTSP session
};

namespace RecordKinds {

// By the URL alone: the scheme "rtsp", or a path (without its query) ending in ".m3u8" or
// ".mpd", in any case.
RecordKind OfUrl(std::string_view scheme, std::string_view path);

// By a response's Content-Type (parameters ignored, any case); kNone for anything else.
RecordKind OfContentType(std::string_view contentType);

// The file suffix a save proposes: ".mp4" for a recording with an end, ".mkv" for a live one
// (a live stream's file must stay playable whenever it is stopped).
const char* ProposedSuffix(bool live);

// The path's last part without its query and suffix ("stream" when nothing is left).
std::string_view StemOf(std::string_view path);

}  // namespace RecordKinds

#pragma once

#include <optional>
#include <string>

struct DetectedStream;

// What the save command proposes for a stream that is recorded rather than downloaded: the
// container (".mp4" for a playlist with an end, ".mkv" for a live one or RTSP), its type name
// for the dialog's filter, and the file name (the path's last part with that suffix).
struct RecordSaveChoice {
    std::string suffix;
    std::string typeName;
    std::string fileName;

    // nullopt for a stream that is downloaded as it is. A playlist is asked once whether it
    // is live, waiting at most `timeoutSeconds` (a playlist that does not answer is taken as
    // live, whose container stays playable however the recording ends).
    static std::optional<RecordSaveChoice> For(const DetectedStream& record, long timeoutSeconds);
};

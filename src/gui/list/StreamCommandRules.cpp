#include "gui/list/StreamCommandRules.h"

#include "core/detect/DetectedStream.h"

namespace {
bool isRtsp(std::string_view scheme) {
    return scheme == "rtsp";
}
}  // namespace

StreamCommandRules::MenuStates StreamCommandRules::menuStates(int state, std::string_view scheme,
                                                              bool fileExists) {
    // An RTSP session is recorded like a playlist: save and abort as for every stream.
    (void)scheme;
    // A download that waits or is paused is stopped like a running one.
    return {!HoldsDownload(state), HoldsDownload(state), state == kStateEnded && fileExists};
}

bool StreamCommandRules::pauses(int state, bool pausable) {
    return state == kStateDownloading && pausable;
}

bool StreamCommandRules::resumes(int state) {
    return state == kStatePaused;
}

bool StreamCommandRules::opensFolder(int state, bool fileExists) {
    return state == kStateEnded && fileExists;
}

StreamCommandRules::Command StreamCommandRules::doubleClickCommand(int state,
                                                                   std::string_view scheme,
                                                                   bool fileExists) {
    if (isRtsp(scheme)) {
        return kCopyUrl;
    }
    if (state == kStateIdle) {
        return kSave;
    }
    if (state == kStateEnded && fileExists) {
        return kPlay;
    }
    return kNone;
}

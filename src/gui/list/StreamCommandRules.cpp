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
    return {state != kStateDownloading, state == kStateDownloading,
            state == kStateEnded && fileExists};
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

#include "gui/list/StreamCommandRules.h"

#include "core/detect/DetectedStream.h"

namespace {
bool isRtsp(std::string_view scheme) {
    return scheme == "rtsp";
}
}  // namespace

StreamCommandRules::MenuStates StreamCommandRules::menuStates(int state, std::string_view scheme,
                                                              bool fileExists) {
    MenuStates states{state != kStateDownloading, state == kStateDownloading,
                      state == kStateEnded && fileExists};
    if (isRtsp(scheme)) {
        states.save = false;
        states.abort = false;
    }
    return states;
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

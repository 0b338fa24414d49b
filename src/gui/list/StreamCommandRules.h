#pragma once

#include <string_view>

// Which list commands a stream offers, decided from its download state and scheme alone.
class StreamCommandRules {
  public:
    enum Command {
        kNone = 0,
        kSave = 139,
        kOpenInBrowser = 140,
        kPlay = 141,
        kAbort = 145,
        kCopyUrl = 147,
    };
    struct MenuStates {
        bool save;
        bool abort;
        bool play;
    };

    // Save, abort and play items of the context menu, by the state alone (RTSP sessions are
    // recorded); the others are always enabled.
    static MenuStates menuStates(int state, std::string_view scheme);
    // What a double click runs: copy for rtsp, save when idle, play when ended, else nothing.
    static Command doubleClickCommand(int state, std::string_view scheme);
};

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

    // Save, abort and play items of the context menu, by the state (RTSP sessions are recorded
    // like every stream); the others are always enabled. Play needs the downloaded file to be
    // there still.
    static MenuStates menuStates(int state, std::string_view scheme, bool fileExists = true);
    // Pause for a running download that can keep its part (`pausable`: the session says so,
    // HTTP only); resume for a paused one.
    static bool pauses(int state, bool pausable);
    static bool resumes(int state);
    // What a double click runs: copy for rtsp, save when idle, play when ended and the file
    // is there, else nothing.
    static Command doubleClickCommand(int state, std::string_view scheme, bool fileExists = true);
    // Whether the context menu offers the folder of the downloaded file: the download ended
    // and its file is there.
    static bool opensFolder(int state, bool fileExists);
};

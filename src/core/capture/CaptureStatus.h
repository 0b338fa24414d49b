#pragma once

#include <string>

// What the capture engine reports to its owner: whether the capture runs, and why it ended
// when it ended by itself.
struct CaptureStatus {
    enum State {
        kIdle,     // constructed or stopped
        kOpening,  // Start called, the capture thread opens the interface
        kRunning,  // the interface is open and datagrams are handed over
        kFailed,   // the interface could not be opened; the thread has ended
        kLost,     // capturing failed later (interface gone or down); the thread has ended
    };

    State state = kIdle;
    std::string interfaceName;
    std::string message;  // why it failed, for the user; empty otherwise
};

#pragma once

#include <string>

// What the recorder gives up before it reads a byte from the network, with what Linux offers
// an unprivileged process: no core files, a bound on its memory and descriptors, no new
// privileges ever, the death of the parent's thread ends it, and a system-call filter that
// leaves the remux what it needs (reading files, internet sockets, threads, the descriptors
// it was given) and nothing else: no file created or written by name, no program started,
// no process signalled but itself.
class RecorderSandbox {
  public:
    // The largest data the media library may hold: a playlist within its bound and the
    // muxer's index of hours of media fit well below it.
    static constexpr unsigned long long kDataLimit = 1ULL << 30;

    // False, with the step that failed in `failure`, when the process is not confined.
    static bool Enter(std::string& failure);
};

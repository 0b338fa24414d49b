#pragma once

#include <string>

// What the media libraries say (libavformat's log and libxml2's errors, which would otherwise
// go to standard error): kept, without control bytes, as the detail of a failure, and read
// for the complaints that mean a segment was skipped. Nothing of it reaches a terminal.
class LibraryMessages {
  public:
    // Takes over both libraries' messages; once, before the first library call.
    static void install();

    // The last complaint (a warning or worse), cut to a detail's length.
    static std::string lastLine();
    // Segments or fragments the library gave up on, which leave a gap in the file.
    static int segmentFailures();
};

#pragma once

#include <string>
#include <vector>

// Where the capture helper (quorvex-capture) is looked for, in order: beside the running
// program, in ../libexec/quorvex beside its bin directory, at the installed location, and in
// the build tree the program was built in.
class CaptureHelperPath {
  public:
    static constexpr char kName[] = "quorvex-capture";

    static std::vector<std::string> candidates();
    // The first candidate that is an executable file; empty when none is.
    static std::string find();
};

#pragma once

#include <string>
#include <vector>

// Where the capture helper (quorvex-capture) is looked for, in order: beside the running
// program, in ../libexec/quorvex beside its bin directory, at the installed location, and, in a
// build made with QUORVEX_BUILD_TREE_PATHS, in its build tree while the program runs from there.
class CaptureHelperPath {
  public:
    static constexpr char kName[] = "quorvex-capture";

    static std::vector<std::string> candidates();
    // The first candidate that TrustedProgramPath trusts, its links resolved; empty when none.
    static std::string find();
    // The first of `paths` that is a regular file the caller may not run (a helper kept for
    // the members of a group the caller is not in); empty when none. Only ever named in a
    // message, never started.
    static std::string firstNotRunnable(const std::vector<std::string>& paths);
};

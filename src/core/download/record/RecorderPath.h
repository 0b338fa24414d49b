#pragma once

#include <string>
#include <vector>

// Where the recorder program (quorvex-record) is looked for, in order: beside the running
// program, in ../libexec/quorvex beside its bin directory, at the installed location, and, in a
// build made with QUORVEX_BUILD_TREE_PATHS, in its build tree while the program runs from there.
class RecorderPath {
  public:
    static constexpr char kName[] = "quorvex-record";

    static std::vector<std::string> candidates();
    // The first candidate that TrustedProgramPath trusts, its links resolved; empty when none.
    static std::string find();
};

#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

// Where a program of ours that another one starts (the capture helper, the recorder) may be
// taken from: only a place that no other user, and no group, can have filled or can change.
class TrustedProgramPath {
  public:
    // `path` with its links resolved when it names a regular file that the caller may run, and
    // that file and every folder above it belong to root or `user` and none of them is writable
    // by group or others; a sticky folder (such as /tmp) above the file's own folder may be,
    // since no one else can rename or remove what is ours in it. Empty otherwise.
    static std::string checked(const std::string& path, uid_t user);

    // The first candidate that is trusted for the effective user, as checked() gives it;
    // empty when none is.
    static std::string firstTrusted(const std::vector<std::string>& candidates);

    // The folder of the running program, links resolved; empty when unknown.
    static std::filesystem::path programDirectory();

    // Where a program of ours called `name` is looked for, in order: beside the running program,
    // in ../libexec/quorvex beside its bin folder, at `installed` (when given), and at
    // `inBuildTree` (when given) while the running program runs from the build tree.
    static std::vector<std::string> candidates(const std::string& name, const char* installed,
                                               const char* inBuildTree);

    // Whether the running program lies inside the folder `tree`: a build tree's programs are
    // looked for there only by programs run from that tree, never by installed copies.
    static bool runsFrom(const std::string& tree);
};

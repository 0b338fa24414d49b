#include "core/download/record/RecorderPath.h"

#include <filesystem>

#include "core/session/TrustedProgramPath.h"

std::vector<std::string> RecorderPath::candidates() {
    std::vector<std::string> paths;
    std::filesystem::path directory = TrustedProgramPath::programDirectory();
    if (!directory.empty()) {
        paths.push_back((directory / kName).string());
        paths.push_back(
            (directory.parent_path() / "libexec" / "quorvex" / kName).lexically_normal().string());
    }
#ifdef QUORVEX_INSTALLED_RECORDER
    paths.push_back(QUORVEX_INSTALLED_RECORDER);
#endif
#if defined(QUORVEX_BUILD_TREE) && defined(QUORVEX_BUILD_TREE_RECORDER)
    // As the capture helper: a build tree is looked into only by programs run from it.
    if (TrustedProgramPath::runsFrom(QUORVEX_BUILD_TREE)) {
        paths.push_back(QUORVEX_BUILD_TREE_RECORDER);
    }
#endif
    return paths;
}

std::string RecorderPath::find() {
    return TrustedProgramPath::firstTrusted(candidates());
}

#include "core/session/CaptureHelperPath.h"

#include <unistd.h>

#include <filesystem>

#include "core/session/TrustedProgramPath.h"

std::vector<std::string> CaptureHelperPath::candidates() {
    std::vector<std::string> paths;
    std::filesystem::path directory = TrustedProgramPath::programDirectory();
    if (!directory.empty()) {
        paths.push_back((directory / kName).string());
        paths.push_back(
            (directory.parent_path() / "libexec" / "quorvex" / kName).lexically_normal().string());
    }
#ifdef QUORVEX_INSTALLED_HELPER
    paths.push_back(QUORVEX_INSTALLED_HELPER);
#endif
#if defined(QUORVEX_BUILD_TREE) && defined(QUORVEX_BUILD_TREE_HELPER)
    // An installed copy of a developer build never looks into the tree it came from, which may
    // be gone and made again by someone else.
    if (TrustedProgramPath::runsFrom(QUORVEX_BUILD_TREE)) {
        paths.push_back(QUORVEX_BUILD_TREE_HELPER);
    }
#endif
    return paths;
}

std::string CaptureHelperPath::find() {
    return TrustedProgramPath::firstTrusted(candidates());
}

std::string CaptureHelperPath::firstNotRunnable(const std::vector<std::string>& paths) {
    for (const std::string& path : paths) {
        std::error_code error;
        if (std::filesystem::is_regular_file(path, error) && ::access(path.c_str(), X_OK) != 0) {
            return path;
        }
    }
    return {};
}

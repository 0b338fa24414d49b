#include "core/session/CaptureHelperPath.h"

#include <unistd.h>

#include <filesystem>

#include "core/session/TrustedProgramPath.h"

namespace {

#ifdef QUORVEX_INSTALLED_HELPER
constexpr const char* kInstalled = QUORVEX_INSTALLED_HELPER;
#else
constexpr const char* kInstalled = nullptr;
#endif
#if defined(QUORVEX_BUILD_TREE) && defined(QUORVEX_BUILD_TREE_HELPER)
constexpr const char* kInBuildTree = QUORVEX_BUILD_TREE_HELPER;
#else
constexpr const char* kInBuildTree = nullptr;
#endif

}  // namespace

std::vector<std::string> CaptureHelperPath::candidates() {
    return TrustedProgramPath::candidates(kName, kInstalled, kInBuildTree);
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

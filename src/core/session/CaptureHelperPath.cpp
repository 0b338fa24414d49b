#include "core/session/CaptureHelperPath.h"

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <system_error>

namespace {

std::filesystem::path programDirectory() {
    std::error_code error;
    std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::filesystem::path() : self.parent_path();
}

bool isExecutableFile(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
           ::access(path.c_str(), X_OK) == 0;
}

}  // namespace

std::vector<std::string> CaptureHelperPath::candidates() {
    std::vector<std::string> paths;
    std::filesystem::path directory = programDirectory();
    if (!directory.empty()) {
        paths.push_back((directory / kName).string());
        paths.push_back(
            (directory.parent_path() / "libexec" / "quorvex" / kName).lexically_normal().string());
    }
#ifdef QUORVEX_INSTALLED_HELPER
    paths.push_back(QUORVEX_INSTALLED_HELPER);
#endif
#ifdef QUORVEX_BUILD_TREE_HELPER
    paths.push_back(QUORVEX_BUILD_TREE_HELPER);
#endif
    return paths;
}

std::string CaptureHelperPath::find() {
    for (const std::string& path : candidates()) {
        if (isExecutableFile(path)) {
            return path;
        }
    }
    return {};
}

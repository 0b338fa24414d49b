#include "core/session/TrustedProgramPath.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <system_error>

namespace {

bool ownedByRootOr(const struct stat& info, uid_t user) {
    return info.st_uid == 0 || info.st_uid == user;
}

bool othersMayWrite(const struct stat& info) {
    return (info.st_mode & (S_IWGRP | S_IWOTH)) != 0;
}

bool trustedFile(const std::filesystem::path& file, uid_t user) {
    struct stat info {};
    return ::lstat(file.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
           ownedByRootOr(info, user) && !othersMayWrite(info) && ::access(file.c_str(), X_OK) == 0;
}

// The file's own folder must be closed to others; one further up may be open if sticky.
bool trustedFolders(const std::filesystem::path& file, uid_t user) {
    bool ownFolder = true;
    for (std::filesystem::path folder = file.parent_path();; folder = folder.parent_path()) {
        struct stat info {};
        if (::lstat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) ||
            !ownedByRootOr(info, user)) {
            return false;
        }
        if (othersMayWrite(info) && (ownFolder || (info.st_mode & S_ISVTX) == 0)) {
            return false;
        }
        if (folder == folder.parent_path()) {
            return true;
        }
        ownFolder = false;
    }
}

}  // namespace

std::string TrustedProgramPath::checked(const std::string& path, uid_t user) {
    std::error_code error;
    const std::filesystem::path real = std::filesystem::canonical(path, error);
    if (error || !trustedFile(real, user) || !trustedFolders(real, user)) {
        return {};
    }
    return real.string();
}

std::string TrustedProgramPath::firstTrusted(const std::vector<std::string>& candidates) {
    for (const std::string& path : candidates) {
        if (std::string trusted = checked(path, ::geteuid()); !trusted.empty()) {
            return trusted;
        }
    }
    return {};
}

std::vector<std::string> TrustedProgramPath::candidates(const std::string& name,
                                                        const char* installed,
                                                        const char* inBuildTree) {
    std::vector<std::string> paths;
    std::filesystem::path directory = programDirectory();
    if (!directory.empty()) {
        paths.push_back((directory / name).string());
        paths.push_back(
            (directory.parent_path() / "libexec" / "quorvex" / name).lexically_normal().string());
    }
    if (installed != nullptr) {
        paths.push_back(installed);
    }
#ifdef QUORVEX_BUILD_TREE
    // An installed copy of a developer build never looks into the tree it came from, which may
    // be gone and made again by someone else.
    if (inBuildTree != nullptr && runsFrom(QUORVEX_BUILD_TREE)) {
        paths.push_back(inBuildTree);
    }
#else
    (void)inBuildTree;
#endif
    return paths;
}

std::filesystem::path TrustedProgramPath::programDirectory() {
    std::error_code error;
    std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::filesystem::path() : self.parent_path();
}

bool TrustedProgramPath::runsFrom(const std::string& tree) {
    std::error_code error;
    const std::filesystem::path root = std::filesystem::canonical(tree, error);
    const std::filesystem::path program = programDirectory();
    if (error || program.empty()) {
        return false;
    }
    return std::mismatch(root.begin(), root.end(), program.begin(), program.end()).first ==
           root.end();
}

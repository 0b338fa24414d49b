#include "core/download/record/RecordModule.h"

#include <dlfcn.h>
#include <sys/stat.h>

#include <filesystem>
#include <mutex>
#include <system_error>

namespace {

std::filesystem::path ProgramDirectory() {
    std::error_code error;
    std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::filesystem::path() : self.parent_path();
}

bool IsRegularFile(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

struct Loaded {
    RecordModule::Factory factory = nullptr;
    std::string error;
};

Loaded Load() {
    Loaded loaded;
    for (const std::string& path : RecordModule::candidates()) {
        if (!IsRegularFile(path)) {
            continue;
        }
        void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle == nullptr) {
            const char* reason = ::dlerror();
            loaded.error = reason != nullptr ? reason : path + ": cannot be loaded";
            continue;
        }
        loaded.factory =
            reinterpret_cast<RecordModule::Factory>(::dlsym(handle, RecordModule::kFactory));
        if (loaded.factory != nullptr) {
            return loaded;
        }
        loaded.error = path + ": no " + RecordModule::kFactory;
    }
    if (loaded.error.empty()) {
        loaded.error = std::string(RecordModule::kName) + " not found";
    }
    return loaded;
}

}  // namespace

std::vector<std::string> RecordModule::candidates() {
    std::vector<std::string> paths;
    std::filesystem::path directory = ProgramDirectory();
    if (!directory.empty()) {
        paths.push_back((directory / kName).string());
        paths.push_back(
            (directory.parent_path() / "libexec" / "quorvex" / kName).lexically_normal().string());
    }
#ifdef QUORVEX_INSTALLED_RECORD_MODULE
    paths.push_back(QUORVEX_INSTALLED_RECORD_MODULE);
#endif
#ifdef QUORVEX_BUILD_TREE_RECORD_MODULE
    paths.push_back(QUORVEX_BUILD_TREE_RECORD_MODULE);
#endif
    return paths;
}

std::unique_ptr<RecordWorker> RecordModule::NewDownload(DownloadHost& host, RecordKind kind,
                                                        const HttpDownloadOptions& options,
                                                        std::string& error) {
    static const Loaded loaded = Load();
    if (loaded.factory == nullptr) {
        error = loaded.error;
        return nullptr;
    }
    return std::unique_ptr<RecordWorker>(loaded.factory(host, kind, options));
}

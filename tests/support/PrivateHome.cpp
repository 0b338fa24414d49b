// Linked into every test program: the process runs with a home and settings folders of its
// own, empty at start and removed at exit, so that what the user or an earlier run left in
// ~/.config/quorvex (a suffix list, window settings) cannot change a result, and no test
// writes there.
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <system_error>

namespace {

class PrivateHome {
  public:
    PrivateHome() : owner_(::getpid()) {
        std::error_code error;
        std::string pattern =
            (std::filesystem::temp_directory_path(error) / "quorvex-home-XXXXXX").string();
        if (error || ::mkdtemp(pattern.data()) == nullptr) {
            return;
        }
        dir_ = pattern;
        // Programs a test runs as another user still find their way through it.
        ::chmod(dir_.c_str(), 0755);
        ::setenv("HOME", dir_.c_str(), 1);
        for (const char* name :
             {"XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_DATA_HOME", "XDG_STATE_HOME"}) {
            ::unsetenv(name);
        }
    }
    ~PrivateHome() {
        // A forked child that exits normally must not take its parent's folder with it.
        if (!dir_.empty() && ::getpid() == owner_) {
            std::error_code error;
            std::filesystem::remove_all(dir_, error);
        }
    }
    PrivateHome(const PrivateHome&) = delete;
    PrivateHome& operator=(const PrivateHome&) = delete;

  private:
    pid_t owner_;
    std::filesystem::path dir_;
};

const PrivateHome home;

}  // namespace

#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

// Stand-ins for the three tools on an otherwise empty PATH: each records its name and its
// arguments, NUL-separated, and does nothing else.
class StandInTools {
  public:
    StandInTools() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "quorvex-cmd-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) {
            return;
        }
        dir_ = pattern;
        std::filesystem::create_directory(dir_ / "bin");
        std::filesystem::create_directory(dir_ / "work");
        for (const char* tool : {"curl", "ffmpeg", "yt-dlp"}) {
            std::filesystem::path script = dir_ / "bin" / tool;
            std::ofstream(script) << "#!/bin/sh\n"
                                     "printf '%s\\0' \"${0##*/}\" \"$@\" > \"$ARGV_LOG\"\n";
            std::filesystem::permissions(script, std::filesystem::perms::owner_all);
        }
    }
    ~StandInTools() {
        if (!dir_.empty()) {
            std::filesystem::remove_all(dir_);
        }
    }

    // Runs `line` with /bin/sh in an empty working folder; the argv the tool got, or one
    // "exit N" word when the shell did not end well.
    std::vector<std::string> run(const std::string& line) const {
        const std::string log = (dir_ / "argv").string();
        std::filesystem::remove(log);
        pid_t child = fork();
        if (child == 0) {
            if (chdir((dir_ / "work").c_str()) != 0) {
                _exit(126);
            }
            const std::string path = "PATH=" + (dir_ / "bin").string();
            const std::string logVar = "ARGV_LOG=" + log;
            char* const env[] = {const_cast<char*>(path.c_str()), const_cast<char*>(logVar.c_str()),
                                 nullptr};
            execle("/bin/sh", "sh", "-c", line.c_str(), static_cast<char*>(nullptr), env);
            _exit(127);
        }
        int status = 0;
        waitpid(child, &status, 0);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            return {"exit " + std::to_string(status)};
        }
        std::ifstream in(log, std::ios::binary);
        std::ostringstream bytes;
        bytes << in.rdbuf();
        std::vector<std::string> argv;
        std::string all = bytes.str();
        for (std::size_t at = 0; at < all.size();) {
            std::size_t end = all.find('\0', at);
            argv.push_back(all.substr(at, end - at));
            at = end + 1;
        }
        return argv;
    }

    // Whatever a command made besides the tool's record: must stay empty.
    std::vector<std::string> leftovers() const {
        std::vector<std::string> found;
        for (const auto& entry : std::filesystem::directory_iterator(dir_ / "work")) {
            found.push_back(entry.path().filename().string());
        }
        return found;
    }

    bool ok() const { return !dir_.empty(); }

  private:
    std::filesystem::path dir_;
};

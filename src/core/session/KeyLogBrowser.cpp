#include "core/session/KeyLogBrowser.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <string_view>
#include <system_error>

extern char** environ;

namespace {

using Kind = KeyLogBrowser::Kind;
using Browser = KeyLogBrowser::Browser;
using Failure = KeyLogBrowser::Failure;
using Outcome = KeyLogBrowser::Outcome;

struct Candidate {
    const char* name;
    Kind kind;
};

// In the order they are tried when the desktop names no default of theirs.
constexpr Candidate kCandidates[] = {
    {"chromium", Kind::kChromium},      {"chromium-browser", Kind::kChromium},
    {"google-chrome", Kind::kChromium}, {"firefox-esr", Kind::kFirefox},
    {"firefox", Kind::kFirefox},
};

constexpr char kKeyLogVariable[] = "SSLKEYLOGFILE=";
// The desktop's answer is one short id; anything longer is not one.
constexpr std::size_t kMaxDefaultIdBytes = 256;
constexpr std::chrono::seconds kDefaultQueryLimit{3};

std::optional<std::string> valueOf(const std::vector<std::string>& environment,
                                   std::string_view name) {
    for (const std::string& entry : environment) {
        if (entry.size() > name.size() && entry.compare(0, name.size(), name) == 0 &&
            entry[name.size()] == '=') {
            return entry.substr(name.size() + 1);
        }
    }
    return std::nullopt;
}

std::vector<char*> pointersTo(std::vector<std::string>& words) {
    std::vector<char*> pointers;
    pointers.reserve(words.size() + 1);
    for (std::string& word : words) {
        pointers.push_back(word.data());
    }
    pointers.push_back(nullptr);
    return pointers;
}

bool isExecutableFile(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
           ::access(path.c_str(), X_OK) == 0;
}

// The program `name` as the PATH of `environment` finds it; empty when it does not. Empty
// PATH entries (the working folder) are skipped: a browser is never taken from there.
std::string findOnPath(const std::vector<std::string>& environment, std::string_view name) {
    std::string path = valueOf(environment, "PATH").value_or("");
    std::size_t at = 0;
    while (at <= path.size()) {
        std::size_t end = std::min(path.find(':', at), path.size());
        std::string folder = path.substr(at, end - at);
        if (!folder.empty()) {
            std::string candidate = folder + "/" + std::string(name);
            if (isExecutableFile(candidate)) {
                return candidate;
            }
        }
        at = end + 1;
    }
    return {};
}

std::string lowered(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::optional<Kind> kindOfName(const std::string& name) {
    std::string lower = lowered(name);
    if (lower.find("firefox") != std::string::npos) {
        return Kind::kFirefox;
    }
    if (lower.find("chrom") != std::string::npos) {
        return Kind::kChromium;
    }
    return std::nullopt;
}

// The installed candidate named `preferred`, else the first installed of `kind` (of any
// kind when none is given).
std::optional<Browser> firstInstalled(const std::vector<std::string>& environment,
                                      std::optional<Kind> kind, std::string_view preferred = {}) {
    for (const Candidate& candidate : kCandidates) {
        if (preferred == candidate.name) {
            std::string path = findOnPath(environment, candidate.name);
            if (!path.empty()) {
                return Browser{path, candidate.kind};
            }
        }
    }
    for (const Candidate& candidate : kCandidates) {
        if (kind && *kind != candidate.kind) {
            continue;
        }
        std::string path = findOnPath(environment, candidate.name);
        if (!path.empty()) {
            return Browser{path, candidate.kind};
        }
    }
    return std::nullopt;
}

std::string firstLine(const std::string& text) {
    std::string line = text.substr(0, text.find('\n'));
    while (!line.empty() && std::isspace(static_cast<unsigned char>(line.back()))) {
        line.pop_back();
    }
    return line;
}

// Reads what `child` writes on `fd` until it closes it, up to `limit` bytes and `wait`.
// True when the child closed it (it has said all it will).
bool readBounded(int fd, std::string& text, std::size_t limit, std::chrono::milliseconds wait) {
    auto deadline = std::chrono::steady_clock::now() + wait;
    char buffer[128];
    while (text.size() < limit) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd readable{fd, POLLIN, 0};
        if (left.count() <= 0 || ::poll(&readable, 1, static_cast<int>(left.count())) <= 0) {
            return false;
        }
        ssize_t n = ::read(fd, buffer, std::min(sizeof buffer, limit - text.size()));
        if (n == 0) {
            return true;
        }
        if (n < 0 && errno != EINTR) {
            return false;
        }
        if (n > 0) {
            text.append(buffer, static_cast<std::size_t>(n));
        }
    }
    return false;
}

// The desktop's default browser ("firefox-esr.desktop"), as `xdg-settings` tells it; empty
// when it cannot. The tool is given a bounded time and output, then ended.
std::string desktopDefaultId(const std::vector<std::string>& environment) {
    std::string tool = findOnPath(environment, "xdg-settings");
    int fds[2];
    if (tool.empty() || ::pipe2(fds, O_CLOEXEC) != 0) {
        return {};
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    std::vector<std::string> words{tool, "get", "default-web-browser"};
    std::vector<char*> argv = pointersTo(words);
    std::vector<std::string> env(environment);
    std::vector<char*> envp = pointersTo(env);
    pid_t child = -1;
    int spawned = posix_spawn(&child, tool.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    std::string text;
    bool finished =
        spawned == 0 &&
        readBounded(fds[0], text, kMaxDefaultIdBytes,
                    std::chrono::duration_cast<std::chrono::milliseconds>(kDefaultQueryLimit));
    ::close(fds[0]);
    if (spawned != 0) {
        return {};
    }
    if (!finished) {
        ::kill(child, SIGKILL);
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    bool answered = finished && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return answered ? firstLine(text) : std::string();
}

// The desktop default when it is one of the candidates' kinds and such a browser is on PATH.
std::optional<Browser> desktopDefault(const std::vector<std::string>& environment) {
    std::string id = desktopDefaultId(environment);
    constexpr std::string_view kSuffix = ".desktop";
    if (id.size() > kSuffix.size() && id.ends_with(kSuffix)) {
        id.resize(id.size() - kSuffix.size());
    }
    std::optional<Kind> kind = kindOfName(id);
    if (!kind) {
        return std::nullopt;
    }
    return firstInstalled(environment, kind, lowered(id));
}

// Debian's x-www-browser alternative, when it leads to Chromium or Firefox.
std::optional<Browser> browserAlternative(const std::vector<std::string>& environment) {
    std::string link = findOnPath(environment, "x-www-browser");
    if (link.empty()) {
        return std::nullopt;
    }
    std::error_code error;
    std::filesystem::path target = std::filesystem::canonical(link, error);
    if (error) {
        return std::nullopt;
    }
    std::optional<Kind> kind = kindOfName(target.filename().string());
    if (!kind) {
        return std::nullopt;
    }
    return Browser{target.string(), *kind};
}

// XDG_RUNTIME_DIR when it is an absolute path to a folder of this user that nobody else may
// enter; else /tmp.
std::string privateParent(const std::vector<std::string>& environment) {
    std::string runtime = valueOf(environment, "XDG_RUNTIME_DIR").value_or("");
    struct stat info {};
    bool usable = !runtime.empty() && runtime.front() == '/' &&
                  ::lstat(runtime.c_str(), &info) == 0 && S_ISDIR(info.st_mode) &&
                  info.st_uid == ::geteuid() && (info.st_mode & 077) == 0;
    return usable ? runtime : "/tmp";
}

Outcome failed(Failure failure, const std::string& path, int error) {
    return {failure, path + ": " + std::strerror(error)};
}

}  // namespace

KeyLogBrowser::KeyLogBrowser(std::vector<std::string> environment)
    : environment_(std::move(environment)) {}

KeyLogBrowser::~KeyLogBrowser() {
    running();
    cleanUp();
    if (exitFd_ >= 0) {
        ::close(exitFd_);
    }
}

std::vector<std::string> KeyLogBrowser::processEnvironment() {
    std::vector<std::string> entries;
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
        entries.emplace_back(*entry);
    }
    return entries;
}

std::optional<KeyLogBrowser::Browser> KeyLogBrowser::choose() const {
    if (auto chosen = desktopDefault(environment_)) {
        return chosen;
    }
    if (auto chosen = browserAlternative(environment_)) {
        return chosen;
    }
    return firstInstalled(environment_, std::nullopt);
}

std::vector<std::string> KeyLogBrowser::arguments(Kind kind, const std::string& profile,
                                                  const std::string& url) {
    std::vector<std::string> words;
    if (kind == Kind::kChromium) {
        words = {"--user-data-dir=" + profile, "--no-first-run", "--no-default-browser-check"};
    } else {
        words = {"-profile", profile, "-no-remote", "-new-instance"};
    }
    if (!url.empty()) {
        words.push_back(url);
    }
    return words;
}

KeyLogBrowser::Outcome KeyLogBrowser::start(const std::string& keyLogFile, const std::string& url) {
    if (started_) {
        return {Failure::kAlreadyStarted, {}};
    }
    if (url.starts_with("-")) {
        return {Failure::kBadUrl, url};
    }
    std::optional<Browser> chosen = choose();
    if (!chosen) {
        return {Failure::kNoBrowser, {}};
    }
    browser_ = *chosen;
    Outcome outcome = makePrivateFolder();
    if (outcome.ok()) {
        outcome = openKeyLog(keyLogFile);
    }
    if (outcome.ok()) {
        outcome = spawn(url);
    }
    if (!outcome.ok()) {
        cleanUp();
    }
    return outcome;
}

KeyLogBrowser::Outcome KeyLogBrowser::makePrivateFolder() {
    std::string pattern = privateParent(environment_) + "/quorvex-browser-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
        return failed(Failure::kFolder, pattern, errno);
    }
    folder_ = pattern;
    // mkdtemp's 0700 passes through the umask; the folder must be usable and private.
    if (::chmod(folder_.c_str(), 0700) != 0) {
        return failed(Failure::kFolder, folder_, errno);
    }
    std::string profile = folder_ + "/profile";
    if (::mkdir(profile.c_str(), 0700) != 0) {
        return failed(Failure::kFolder, profile, errno);
    }
    profilePath_ = profile;
    return {};
}

KeyLogBrowser::Outcome KeyLogBrowser::openKeyLog(const std::string& keyLogFile) {
    const bool named = !keyLogFile.empty();
    std::string path = folder_ + "/keys.log";
    if (named) {
        std::error_code error;
        path = std::filesystem::absolute(keyLogFile, error).string();
        if (error) {
            return failed(Failure::kKeyLog, keyLogFile, error.value());
        }
    }
    const int createFlags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC;
    int fd = ::open(path.c_str(), createFlags, 0600);
    bool created = fd >= 0;
    if (!created && named && errno == EEXIST) {
        // The caller's existing file is used as it is: never emptied. Non-blocking, so that
        // a FIFO without a reader fails rather than hangs.
        fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    }
    if (fd < 0) {
        return failed(Failure::kKeyLog, path, errno);
    }
    struct stat info {};
    int error = 0;
    if (::fstat(fd, &info) != 0) {
        error = errno;
    } else if (!S_ISREG(info.st_mode)) {
        error = EINVAL;
    } else if (created && ::fchmod(fd, 0600) != 0) {
        error = errno;
    }
    ::close(fd);
    if (created && !named) {
        ownsKeyLog_ = true;
    }
    keyLogPath_ = path;
    return error == 0 ? Outcome{} : failed(Failure::kKeyLog, path, error);
}

std::vector<std::string> KeyLogBrowser::browserEnvironment() const {
    std::vector<std::string> entries;
    entries.reserve(environment_.size() + 1);
    for (const std::string& entry : environment_) {
        if (!entry.starts_with(kKeyLogVariable)) {
            entries.push_back(entry);
        }
    }
    entries.push_back(kKeyLogVariable + keyLogPath_);
    return entries;
}

KeyLogBrowser::Outcome KeyLogBrowser::spawn(const std::string& url) {
    std::vector<std::string> words{browser_.path};
    for (std::string& word : arguments(browser_.kind, profilePath_, url)) {
        words.push_back(std::move(word));
    }
    std::vector<char*> argv = pointersTo(words);
    std::vector<std::string> env = browserEnvironment();
    std::vector<char*> envp = pointersTo(env);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    // The browser's chatter stays off our output, which may be a pipe that it would
    // otherwise hold open long after we have ended.
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);

    // A process group of its own, so that Ctrl-C at our terminal leaves the browser running;
    // and the signal handling of a fresh process, whatever ours is.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigemptyset(&none);
    sigset_t defaults;
    sigemptyset(&defaults);
    for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE, SIGCHLD}) {
        sigaddset(&defaults, signal);
    }
    posix_spawnattr_setpgroup(&attributes, 0);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(
        &attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    pid_t child = -1;
    int error =
        posix_spawn(&child, browser_.path.c_str(), &actions, &attributes, argv.data(), envp.data());
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) {
        return failed(Failure::kStart, browser_.path, error);
    }
    pid_ = child;
    started_ = true;
    // Called directly: this C library's header declares the wrapper without C linkage.
    exitFd_ = static_cast<int>(::syscall(SYS_pidfd_open, child, 0));
    return {};
}

bool KeyLogBrowser::running() {
    if (pid_ <= 0 || reaped_) {
        return false;
    }
    int status = 0;
    pid_t done;
    while ((done = ::waitpid(pid_, &status, WNOHANG)) < 0 && errno == EINTR) {
    }
    if (done == 0) {
        return true;
    }
    reaped_ = true;
    waitStatus_ = done == pid_ ? status : -1;
    return false;
}

int KeyLogBrowser::waitForExit() {
    if (pid_ <= 0 || reaped_) {
        return waitStatus_;
    }
    int status = 0;
    pid_t done;
    while ((done = ::waitpid(pid_, &status, 0)) < 0 && errno == EINTR) {
    }
    reaped_ = true;
    waitStatus_ = done == pid_ ? status : -1;
    return waitStatus_;
}

void KeyLogBrowser::cleanUp() {
    if (ownsKeyLog_) {
        ::unlink(keyLogPath_.c_str());
        ownsKeyLog_ = false;
        keyLogPath_.clear();
    }
    std::error_code error;
    if (!profilePath_.empty()) {
        std::filesystem::remove_all(profilePath_, error);
        profilePath_.clear();
    }
    if (!folder_.empty()) {
        ::rmdir(folder_.c_str());
        folder_.clear();
    }
}

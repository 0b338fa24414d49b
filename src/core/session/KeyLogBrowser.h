#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

// Starts the user's browser so that it writes its TLS secrets to a key log that Quorvex reads:
// a new browser process with a fresh profile (never a tab of one already running, which would
// ignore SSLKEYLOGFILE) and SSLKEYLOGFILE naming either the caller's file or a private
// keys.log made for it. Owns what it made: cleanUp() and the destructor remove the private key
// log and the profile, never a file the caller named, and never stop the browser. The key
// log's contents are never read here. The browser's output goes to /dev/null. Used by one
// thread at a time.
class KeyLogBrowser {
  public:
    enum class Kind { kChromium, kFirefox };

    struct Browser {
        std::string path;
        Kind kind = Kind::kChromium;
    };

    enum class Failure {
        kNone,
        kNoBrowser,       // neither Chromium nor Firefox is installed
        kBadUrl,          // a URL the browser would read as an option
        kFolder,          // the private folder could not be made
        kKeyLog,          // the key log could not be created or opened for writing
        kStart,           // the browser could not be started
        kAlreadyStarted,  // one browser per object
    };

    // What start() did; `detail` names the path and the system's reason when there is one.
    struct Outcome {
        Failure failure = Failure::kNone;
        std::string detail;
        bool ok() const { return failure == Failure::kNone; }
    };

    // `environment` ("NAME=value" entries) gives PATH and XDG_RUNTIME_DIR and is passed on
    // to the browser.
    explicit KeyLogBrowser(std::vector<std::string> environment = processEnvironment());
    // Removes what it made; a browser still running keeps running.
    ~KeyLogBrowser();

    KeyLogBrowser(const KeyLogBrowser&) = delete;
    KeyLogBrowser& operator=(const KeyLogBrowser&) = delete;

    // This process's environment.
    static std::vector<std::string> processEnvironment();

    // The browser start() runs: the desktop default when it is Chromium or Firefox, else the
    // first installed of chromium, chromium-browser, google-chrome, firefox-esr, firefox.
    // Asking the desktop (xdg-settings) may take up to 3 s; start() asks too.
    std::optional<Browser> choose() const;

    // The arguments after the program's name that make a new process with `profile`.
    static std::vector<std::string> arguments(Kind kind, const std::string& profile,
                                              const std::string& url);

    // Makes the key log (`keyLogFile`, or a private one when empty) and the profile, and
    // starts the browser on `url` (none when empty).
    Outcome start(const std::string& keyLogFile = {}, const std::string& url = {});

    const Browser& browser() const { return browser_; }
    const std::string& keyLogPath() const { return keyLogPath_; }
    const std::string& profilePath() const { return profilePath_; }
    // False for a key log the caller named: it stays after the end.
    bool ownsKeyLog() const { return ownsKeyLog_; }
    pid_t pid() const { return pid_; }

    // A descriptor that becomes readable when the browser ends (for poll), or -1 when the
    // system offers none; the caller then asks running() now and then.
    int exitFd() const { return exitFd_; }
    // Whether the browser still runs; reaps it without blocking when it has ended.
    bool running();
    // Blocks until the browser ends; its wait status, or -1 when there is none to wait for.
    int waitForExit();

    // Removes the private key log, the profile and the private folder. Safe to call again.
    void cleanUp();

  private:
    Outcome makePrivateFolder();
    Outcome openKeyLog(const std::string& keyLogFile);
    Outcome spawn(const std::string& url);
    std::vector<std::string> browserEnvironment() const;

    std::vector<std::string> environment_;
    Browser browser_;
    std::string folder_;
    std::string keyLogPath_;
    std::string profilePath_;
    bool ownsKeyLog_ = false;
    bool started_ = false;
    bool reaped_ = false;
    int waitStatus_ = -1;
    pid_t pid_ = -1;
    int exitFd_ = -1;
};

#include "core/session/KeyLogBrowser.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Failure = KeyLogBrowser::Failure;

// A stand-in browser. Records, one a line: its name, pid, SSLKEYLOGFILE, the modes of that
// file and its folder, its arguments; with GATE set it then waits for a line on that FIFO.
constexpr char kBrowserScript[] =
    "#!/bin/sh\nlog=\"$SSLKEYLOGFILE\"\n"
    "printf '%s\\n' \"${0##*/}\" $$ \"$log\" $(/usr/bin/stat -c %a \"$log\" \"${log%/*}\") "
    "\"$@\" > \"$RECORD\"\n"
    "[ -z \"$GATE\" ] || read line < \"$GATE\"\n";

// Stand-ins on an otherwise empty PATH, and a runtime folder of the test's own.
class KeyLogBrowserTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "quorvex-klb-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        root_ = pattern;
    }
    void TearDown() override { fs::remove_all(root_); }

    // Empties the folders for the next row; a name ending in '!' is not executable.
    void install(std::vector<std::string> names) {
        for (const char* folder : {"bin", "runtime", "record"}) {
            fs::remove_all(root_ / folder);
        }
        fs::create_directory(root_ / "bin");
        fs::create_directory(root_ / "runtime");
        for (std::string& name : names) {
            bool executable = !name.ends_with('!');
            write(executable ? name : name.substr(0, name.size() - 1), kBrowserScript, executable);
        }
    }
    void write(const std::string& name, const std::string& text, bool executable = true) {
        std::ofstream(root_ / "bin" / name) << text;
        fs::permissions(root_ / "bin" / name,
                        executable ? fs::perms::owner_all : fs::perms::owner_read);
    }
    std::vector<std::string> environment(int runtimeMode = 0700, bool gated = false) {
        std::vector<std::string> entries{"PATH=" + (root_ / "bin").string(),
                                         "RECORD=" + (root_ / "record").string(),
                                         "SSLKEYLOGFILE=/stale"};
        if (gated) {
            entries.push_back("GATE=" + gate().string());
        }
        if (runtimeMode >= 0) {
            ::chmod((root_ / "runtime").c_str(), static_cast<mode_t>(runtimeMode));
            entries.push_back("XDG_RUNTIME_DIR=" + (root_ / "runtime").string());
        }
        return entries;
    }
    std::vector<std::string> recorded() const {
        std::ifstream in(root_ / "record");
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);) {
            lines.push_back(line);
        }
        return lines;
    }
    fs::path gate() const { return root_ / "gate"; }

    fs::path root_;
};

struct ChoiceRow {
    std::vector<std::string> installed;
    std::string desktopDefault;  // what xdg-settings answers; no xdg-settings when empty
    std::string alternative;     // where x-www-browser leads; none when empty
    std::string chosen;          // none when empty
};

const ChoiceRow kChoiceRows[] = {
    {{"firefox", "chromium"}, "", "", "chromium"},
    {{"firefox", "firefox-esr"}, "", "", "firefox-esr"},
    {{"firefox", "google-chrome"}, "", "", "google-chrome"},
    {{"chromium-browser"}, "", "", "chromium-browser"},
    {{"chromium!", "firefox"}, "", "", "firefox"},
    {{}, "", "", ""},
    {{"chromium!"}, "", "", ""},
    {{"chromium", "firefox"}, "firefox.desktop", "", "firefox"},
    {{"chromium", "firefox-esr"}, "firefox.desktop", "", "firefox-esr"},
    {{"chromium", "google-chrome"}, "google-chrome.desktop", "", "google-chrome"},
    {{"firefox", "chromium"}, "com.google.Chrome.desktop", "", "chromium"},
    {{"firefox", "chromium"}, "org.gnome.Epiphany.desktop", "", "chromium"},
    {{"chromium"}, "firefox.desktop", "", "chromium"},
    {{"chromium", "firefox"}, "", "firefox", "firefox"},
    {{"chromium", "firefox"}, "firefox-esr.desktop", "chromium", "firefox"},
    {{"chromium", "firefox"}, "org.gnome.Epiphany.desktop", "firefox", "firefox"},
    {{}, "chromium.desktop", "", ""},
};

TEST_F(KeyLogBrowserTest, ChoosesTheDesktopDefaultElseTheFirstInstalled) {
    for (const ChoiceRow& row : kChoiceRows) {
        install(row.installed);
        if (!row.desktopDefault.empty()) {
            write("xdg-settings", "#!/bin/sh\n[ \"$*\" = 'get default-web-browser' ] && echo " +
                                      row.desktopDefault + "\n");
        }
        if (!row.alternative.empty()) {
            fs::create_symlink(root_ / "bin" / row.alternative, root_ / "bin" / "x-www-browser");
        }
        auto chosen = KeyLogBrowser(environment()).choose();
        EXPECT_EQ(chosen ? fs::path(chosen->path).filename().string() : "", row.chosen)
            << row.desktopDefault << " " << row.alternative;
    }
}

const std::vector<std::string> kChromiumArgs{"--user-data-dir=P", "--no-first-run",
                                             "--no-default-browser-check"};
const std::vector<std::string> kFirefoxArgs{"-profile", "P", "-no-remote", "-new-instance"};

struct StartRow {
    std::string browser;  // none when empty
    std::string keyLog;   // a file of the test ("old" holds a line); a private one when empty
    int runtimeMode;      // of XDG_RUNTIME_DIR; -1 unset
    std::string url;
    Failure failure;
    std::string keyLogMode = {};
    std::vector<std::string> arguments = {};  // P stands for the profile
};

const StartRow kStartRows[] = {
    {"chromium", "", 0700, "https://a.test/v", Failure::kNone, "600", kChromiumArgs},
    {"firefox-esr", "", 0700, "", Failure::kNone, "600", kFirefoxArgs},
    {"google-chrome", "new", 0700, "", Failure::kNone, "600", kChromiumArgs},
    {"firefox", "old", 0700, "https://b.test/", Failure::kNone, "640", kFirefoxArgs},
    {"firefox", "", 0755, "", Failure::kNone, "600", kFirefoxArgs},
    {"chromium", "", -1, "", Failure::kNone, "600", kChromiumArgs},
    {"", "", 0700, "", Failure::kNoBrowser},
    {"chromium", "", 0700, "--disable-web-security", Failure::kBadUrl},
    {"firefox", "", 0700, "-P", Failure::kBadUrl},
    {"chromium", "bin", 0700, "", Failure::kKeyLog},
    {"chromium", "missing/keys.log", 0700, "", Failure::kKeyLog},
    {"chromium", "gate", 0700, "", Failure::kKeyLog},  // a FIFO nobody reads: must not hang
};

TEST_F(KeyLogBrowserTest, StartsANewProcessThatWritesToAPrivateOrNamedKeyLog) {
    ASSERT_EQ(::mkfifo(gate().c_str(), 0600), 0);
    for (const StartRow& row : kStartRows) {
        SCOPED_TRACE(row.browser + " " + row.keyLog + " " + std::to_string(row.runtimeMode));
        install(row.browser.empty() ? std::vector<std::string>{} : std::vector{row.browser});
        const std::string named = row.keyLog.empty() ? "" : (root_ / row.keyLog).string();
        if (row.keyLog == "old") {
            std::ofstream(named) << "CLIENT_RANDOM earlier\n";
            ::chmod(named.c_str(), 0640);
        }
        KeyLogBrowser browser(environment(row.runtimeMode));
        ASSERT_EQ(browser.start(named, row.url).failure, row.failure);
        if (row.failure != Failure::kNone) {
            EXPECT_TRUE(fs::is_empty(root_ / "runtime"));
            EXPECT_FALSE(fs::exists(root_ / "record"));
            continue;
        }
        const std::string keyLog = browser.keyLogPath();
        const fs::path folder = fs::path(browser.profilePath()).parent_path();
        std::vector<std::string> expected{row.browser, std::to_string(browser.pid()), keyLog,
                                          row.keyLogMode, "700"};
        for (std::string word : row.arguments) {
            expected.push_back(word.ends_with("P")
                                   ? word.replace(word.size() - 1, 1, browser.profilePath())
                                   : word);
        }
        if (!row.url.empty()) {
            expected.push_back(row.url);
        }
        EXPECT_EQ(browser.waitForExit(), 0);
        EXPECT_EQ(recorded(), expected);
        EXPECT_EQ(folder.parent_path(), row.runtimeMode == 0700 ? root_ / "runtime" : "/tmp");
        EXPECT_EQ(keyLog, named.empty() ? (folder / "keys.log").string() : named);

        browser.cleanUp();
        EXPECT_EQ(fs::exists(keyLog), !named.empty());
        EXPECT_FALSE(fs::exists(folder));
        std::ifstream old(named);
        std::string line;
        EXPECT_EQ(std::getline(old, line) && line == "CLIENT_RANDOM earlier", row.keyLog == "old");
        fs::remove(named);
    }
}

TEST_F(KeyLogBrowserTest, TellsTheBrowsersEndAndNeverStopsIt) {
    install({"chromium"});
    ASSERT_EQ(::mkfifo(gate().c_str(), 0600), 0);
    pid_t pid = -1;
    std::string keyLog;
    int gateFd = -1;
    {
        KeyLogBrowser browser(environment(0700, true));
        ASSERT_TRUE(browser.start().ok());
        ASSERT_TRUE(browser.running());
        EXPECT_EQ(::getpgid(browser.pid()), browser.pid());  // Ctrl-C at a terminal spares it
        pid = browser.pid();
        keyLog = browser.keyLogPath();
        // Opens once the browser has recorded and waits at its gate.
        gateFd = ::open(gate().c_str(), O_WRONLY | O_CLOEXEC);
    }
    EXPECT_FALSE(fs::exists(keyLog));
    // A browser the destructor had stopped would take no line (the write would fail).
    EXPECT_EQ(::write(gateFd, "\n", 1), 1);
    ::close(gateFd);
    int status = -1;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_EQ(status, 0);

    KeyLogBrowser browser(environment(0700, true));
    ASSERT_TRUE(browser.start().ok());
    std::ofstream(gate()) << "\n";
    pollfd ended{browser.exitFd(), POLLIN, 0};
    ASSERT_EQ(::poll(&ended, 1, -1), 1);
    EXPECT_FALSE(browser.running());
    EXPECT_EQ(browser.waitForExit(), 0);
    EXPECT_EQ(browser.start().failure, Failure::kAlreadyStarted);
}

}  // namespace

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "CliProcess.h"

namespace fs = std::filesystem;

namespace {

// A stand-in browser: records its key log and last argument, one a line; with GATE set it
// then waits for a line on that FIFO, so that the test decides when it ends.
constexpr char kStandInBrowser[] =
    "#!/bin/sh\nfor last; do :; done\n"
    "printf '%s\\n' \"$SSLKEYLOGFILE\" \"$last\" > \"$RECORD\"\n"
    "[ -z \"$GATE\" ] || read line < \"$GATE\"\n";

// quorvex-cli inherits this process's environment: PATH holds only the stand-in, and
// XDG_RUNTIME_DIR is a folder of the test's own. Both are put back afterwards.
class BrowserCommandTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "quorvex-cli-browser-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        root_ = pattern;
        fs::create_directories(root_ / "runtime");
        fs::create_directories(root_ / "bin");
        fs::permissions(root_ / "runtime", fs::perms::owner_all, fs::perm_options::replace);
        ::setenv("PATH", (root_ / "bin").c_str(), 1);
        ::setenv("XDG_RUNTIME_DIR", (root_ / "runtime").c_str(), 1);
        ::setenv("RECORD", (root_ / "record").c_str(), 1);
    }
    void TearDown() override {
        for (const auto& [name, value] : saved_) {
            value ? ::setenv(name, value->c_str(), 1) : ::unsetenv(name);
        }
        ::unsetenv("RECORD");
        ::unsetenv("GATE");
        fs::remove_all(root_);
    }

    // Runs the command and gives the key log it printed.
    std::string run(CliProcess& cli, int exit) {
        EXPECT_EQ(cli.Finish(), exit);
        for (const std::string& line : cli.lines()) {
            if (line.starts_with("key log: ")) {
                return line.substr(9);
            }
        }
        return {};
    }

    static std::optional<std::string> valueOf(const char* name) {
        const char* value = std::getenv(name);
        return value ? std::optional<std::string>(value) : std::nullopt;
    }

    const std::pair<const char*, std::optional<std::string>> saved_[2] = {
        {"PATH", valueOf("PATH")}, {"XDG_RUNTIME_DIR", valueOf("XDG_RUNTIME_DIR")}};
    fs::path root_;
};

struct CommandRow {
    std::vector<std::string> args;  // KEYS stands for the test's folder
    bool installed;
    int exit;
    std::string out;  // the last line on stdout starts with it; none printed when empty
    std::string err;
};

const CommandRow kCommandRows[] = {
    {{"--help"}, false, 0, "Exit status: 0 done, 1 no browser", ""},
    {{"--keylog"}, true, 2, "", "quorvex-cli browser: option --keylog needs a value\n"},
    {{"--keylog", ""}, true, 2, "", "quorvex-cli browser: --keylog needs a file name\n"},
    {{"a.test", "b.test"}, true, 2, "", "quorvex-cli browser: unexpected argument 'b.test'\n"},
    {{"-P"}, true, 2, "", "quorvex-cli browser: '-P' is no URL (it would be read as an option)\n"},
    {{"--keylog", "KEYS/none/k"}, true, 1, "", "cannot write the key log KEYS/none/k: No such"},
    {{}, false, 1, "", "quorvex-cli browser: no Chromium or Firefox is installed"},
    {{"https://a.test/v"},
     true,
     0,
     "read HTTPS with: quorvex-cli monitor --keylog 'KEYS/runtime/",
     ""},
    {{"--keylog", "KEYS/k", "https://b.test/"},
     true,
     0,
     "read HTTPS with: "
     "quorvex-cli monitor --keylog 'KEYS/k'",
     ""},
};

std::string placed(std::string text, const fs::path& root) {
    auto at = text.find("KEYS");
    return at == std::string::npos ? text : text.replace(at, 4, root.string());
}

TEST_F(BrowserCommandTest, StartsTheBrowserWaitsAndRemovesWhatItMade) {
    for (const CommandRow& row : kCommandRows) {
        std::vector<std::string> args{"browser"};
        for (const std::string& arg : row.args) {
            args.push_back(placed(arg, root_));
        }
        SCOPED_TRACE(args.back());
        fs::remove(root_ / "bin" / "chromium");
        if (row.installed) {
            std::ofstream(root_ / "bin" / "chromium") << kStandInBrowser;
            fs::permissions(root_ / "bin" / "chromium", fs::perms::owner_all);
        }
        CliProcess cli(args);
        const std::string keyLog = run(cli, row.exit);
        const std::string last = cli.lines().empty() ? "" : cli.lines().back();
        EXPECT_TRUE(row.out.empty() ? cli.lines().empty()
                                    : last.starts_with(placed(row.out, root_)))
            << last;
        EXPECT_NE(cli.errors().find(placed(row.err, root_)), std::string::npos) << cli.errors();
        EXPECT_TRUE(fs::is_empty(root_ / "runtime"));
        if (row.exit == 0 && row.installed) {
            EXPECT_EQ(fs::exists(keyLog), keyLog == (root_ / "k").string());
        }
    }
}

TEST_F(BrowserCommandTest, CtrlCLeavesTheBrowserRunningAndRemovesThePrivateKeyLog) {
    std::ofstream(root_ / "bin" / "chromium") << kStandInBrowser;
    fs::permissions(root_ / "bin" / "chromium", fs::perms::owner_all);
    const fs::path gate = root_ / "gate";
    ASSERT_EQ(::mkfifo(gate.c_str(), 0600), 0);
    ::setenv("GATE", gate.c_str(), 1);
    CliProcess cli({"browser"});
    std::string line;
    ASSERT_TRUE(cli.ReadLine(line));
    EXPECT_TRUE(fs::exists(line.substr(9)));
    // Opens once the browser waits at its gate.
    int gateFd = ::open(gate.c_str(), O_WRONLY | O_CLOEXEC);
    cli.Signal(SIGINT);
    run(cli, 0);
    EXPECT_NE(cli.errors().find("chromium keeps running"), std::string::npos) << cli.errors();
    EXPECT_FALSE(fs::exists(line.substr(9)));
    EXPECT_TRUE(fs::is_empty(root_ / "runtime"));
    // A browser stopped with the command would take no line (the write would fail).
    EXPECT_EQ(::write(gateFd, "\n", 1), 1);
    ::close(gateFd);
}

}  // namespace

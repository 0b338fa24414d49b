#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "gui/app/SecureStartGuard.h"

namespace {

struct Ran {
    int status;
    std::string err;
};

Ran runShell(const std::string& command) {
    Ran ran{-1, {}};
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr) {
        return ran;
    }
    char buffer[512];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        ran.err.append(buffer, n);
    }
    int status = pclose(pipe);
    ran.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return ran;
}

}  // namespace

TEST(SecureStart, ATestRunIsNotSecureMode) {
    EXPECT_FALSE(SecureStartGuard::startedWithRaisedRights());
}

// A copy of the desktop program with capabilities, started by an ordinary user, must end at
// once with the refusal instead of loading any Qt plugin.
TEST(SecureStart, TheDesktopProgramRefusesToRunWithCapabilities) {
    if (::geteuid() != 0) {
        if (std::getenv("CI") != nullptr) {
            FAIL() << "CI runs as root: the capability test must not be skipped";
        }
        GTEST_SKIP() << "needs root to set file capabilities";
    }
    char pattern[] = "/tmp/qvx-secure-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    std::filesystem::path dir = pattern;
    ::chmod(dir.c_str(), 0755);
    std::filesystem::path copy = dir / "quorvex";
    std::filesystem::copy_file(std::string(QUORVEX_BINARY_DIR) + "/src/gui/quorvex", copy);
    ::chmod(copy.c_str(), 0755);
    const std::string asNobody =
        "QT_QPA_PLATFORM=offscreen timeout 10 setpriv --reuid=65534 "
        "--regid=65534 --clear-groups " +
        copy.string();

    ASSERT_EQ(runShell("setcap cap_net_raw,cap_net_admin+eip " + copy.string()).status, 0);
    Ran refused = runShell(asNobody);
    EXPECT_EQ(refused.status, 1) << refused.err;
    EXPECT_NE(refused.err.find(SecureStartGuard::refusal()), std::string::npos) << refused.err;

    // Set-user-id is refused the same way.
    ASSERT_EQ(runShell("setcap -r " + copy.string()).status, 0);
    ::chmod(copy.c_str(), 04755);
    Ran setuid = runShell(asNobody);
    EXPECT_EQ(setuid.status, 1) << setuid.err;
    EXPECT_NE(setuid.err.find(SecureStartGuard::refusal()), std::string::npos) << setuid.err;
    std::filesystem::remove_all(dir);
}

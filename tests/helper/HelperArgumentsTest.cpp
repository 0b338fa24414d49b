#include "helper/HelperArguments.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "helper/PrivilegeDrop.h"

namespace {

std::optional<HelperArguments> parse(std::vector<std::string> words, std::string& error) {
    words.insert(words.begin(), "quorvex-capture");
    std::vector<char*> argv;
    for (std::string& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    return HelperArguments::parse(static_cast<int>(words.size()), argv.data(), error);
}

const std::string kFilter = "ip";

}  // namespace

// The helper is privileged: it takes exactly the options its parent gives, nothing more.
TEST(HelperArguments, TakesExactlyWhatTheParentGives) {
    struct Case {
        const char* name;
        std::vector<std::string> words;
        bool ok;
    } cases[] = {
        {"all",
         {"--address", "10.0.0.1", "--promiscuous", "--filter", kFilter, "--plain-filter", kFilter},
         true},
        {"not promiscuous",
         {"--address", "10.0.0.1", "--filter", kFilter, "--plain-filter", kFilter},
         true},
        {"IPv6 only adapter",
         {"--address", "fd00:201::2", "--filter", kFilter, "--plain-filter", kFilter},
         true},
        {"nothing", {}, false},
        {"no address", {"--filter", kFilter, "--plain-filter", kFilter}, false},
        {"no plain filter", {"--address", "10.0.0.1", "--filter", kFilter}, false},
        {"bad address",
         {"--address", "10.0.0", "--filter", kFilter, "--plain-filter", kFilter},
         false},
        {"repeated address",
         {"--address", "10.0.0.1", "--address", "10.0.0.2", "--filter", kFilter, "--plain-filter",
          kFilter},
         false},
        {"repeated promiscuous",
         {"--address", "10.0.0.1", "--promiscuous", "--promiscuous", "--filter", kFilter,
          "--plain-filter", kFilter},
         false},
        {"empty filter",
         {"--address", "10.0.0.1", "--filter", "", "--plain-filter", kFilter},
         false},
        {"overlong filter",
         {"--address", "10.0.0.1", "--filter", std::string(4097, 'x'), "--plain-filter", kFilter},
         false},
        {"unknown option",
         {"--address", "10.0.0.1", "--filter", kFilter, "--plain-filter", kFilter, "--interface",
          "lo"},
         false},
        {"value missing", {"--address", "10.0.0.1", "--filter", kFilter, "--plain-filter"}, false},
    };
    for (const Case& c : cases) {
        std::string error;
        std::optional<HelperArguments> parsed = parse(c.words, error);
        EXPECT_EQ(parsed.has_value(), c.ok) << c.name << ": " << error;
        EXPECT_EQ(error.empty(), c.ok) << c.name;
    }
    std::string error;
    std::optional<HelperArguments> parsed =
        parse({"--plain-filter", "udp", "--filter", "tcp", "--address", "192.168.1.2"}, error);
    ASSERT_TRUE(parsed.has_value()) << error;
    EXPECT_FALSE(parsed->promiscuous);
    EXPECT_EQ(parsed->ethernetFilter, "tcp");
    EXPECT_EQ(parsed->plainFilter, "udp");
    EXPECT_EQ(parsed->adapter.address[0], 192);
    EXPECT_EQ(parsed->adapter.address[3], 2);
}

TEST(HelperArguments, TheProgramRefusesBadArgumentsWithStatus2) {
    const std::string helper = std::string(QUORVEX_BINARY_DIR) + "/src/helper/quorvex-capture";
    for (const char* arguments : {"", " --address 1.2.3.4", " --bogus x"}) {
        int status = std::system((helper + arguments + " </dev/null >/dev/null 2>&1").c_str());
        ASSERT_TRUE(WIFEXITED(status)) << arguments;
        EXPECT_EQ(WEXITSTATUS(status), 2) << arguments;
    }
}

// Run in a child so the test process keeps its rights.
TEST(PrivilegeDrop, LeavesNoCapabilityAndNoWayBack) {
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::string failure;
        bool dropped = PrivilegeDrop::dropAll(failure);
        _exit(dropped && PrivilegeDrop::effectiveCapabilitiesEmpty() ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

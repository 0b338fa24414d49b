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

// Seventeen ports: one more than any list takes.
std::vector<std::string> manyPorts(const char* option) {
    std::vector<std::string> words = {"--address", "10.0.0.1"};
    for (int port = 8001; port <= 8017; ++port) {
        words.insert(words.end(), {option, std::to_string(port)});
    }
    return words;
}

}  // namespace

// The helper is privileged: it takes exactly the options its parent gives, nothing more, and
// makes its filter from port numbers, never from an expression.
TEST(HelperArguments, TakesExactlyWhatTheParentGives) {
    struct Case {
        const char* name;
        std::vector<std::string> words;
        bool ok;
    } cases[] = {
        {"all",
         {"--address", "10.0.0.1", "--promiscuous", "--port", "8080", "--tls-port", "8443"},
         true},
        {"not promiscuous, no ports", {"--address", "10.0.0.1"}, true},
        {"IPv6 only adapter", {"--address", "fd00:201::2"}, true},
        {"nothing", {}, false},
        {"no address", {"--port", "8080"}, false},
        {"bad address", {"--address", "10.0.0"}, false},
        {"repeated address", {"--address", "10.0.0.1", "--address", "10.0.0.2"}, false},
        {"repeated promiscuous",
         {"--address", "10.0.0.1", "--promiscuous", "--promiscuous"},
         false},
        {"port zero", {"--address", "10.0.0.1", "--port", "0"}, false},
        {"port too large", {"--address", "10.0.0.1", "--tls-port", "65536"}, false},
        {"port not a number", {"--address", "10.0.0.1", "--port", "80 or 1=1"}, false},
        {"too many ports", manyPorts("--port"), false},
        {"too many TLS ports", manyPorts("--tls-port"), false},
        {"a filter expression", {"--address", "10.0.0.1", "--filter", "ip"}, false},
        {"value missing", {"--address", "10.0.0.1", "--port"}, false},
    };
    for (const Case& c : cases) {
        std::string error;
        std::optional<HelperArguments> parsed = parse(c.words, error);
        EXPECT_EQ(parsed.has_value(), c.ok) << c.name << ": " << error;
        EXPECT_EQ(error.empty(), c.ok) << c.name;
    }
    std::string error;
    std::vector<std::string> sixteen = manyPorts("--port");
    sixteen.resize(sixteen.size() - 2);
    sixteen.insert(sixteen.end(), {"--tls-port", "8443", "--address", "192.168.1.2"});
    sixteen.erase(sixteen.begin(), sixteen.begin() + 2);
    std::optional<HelperArguments> parsed = parse(sixteen, error);
    ASSERT_TRUE(parsed.has_value()) << error;
    EXPECT_FALSE(parsed->promiscuous);
    EXPECT_EQ(parsed->ports.added().size(), WatchedPorts::kMaxAdded);
    EXPECT_TRUE(parsed->tlsPorts.contains(8443));
    EXPECT_TRUE(parsed->tlsPorts.contains(TlsPorts::kHttpsPort));
    EXPECT_EQ(parsed->adapter.address[0], 192);
    EXPECT_EQ(parsed->adapter.address[3], 2);
}

TEST(HelperArguments, TheProgramRefusesBadArgumentsWithStatus2) {
    const std::string helper = std::string(QUORVEX_BINARY_DIR) + "/src/helper/quorvex-capture";
    for (const char* arguments : {"", " --address 1.2.3.4 --port 0", " --bogus x"}) {
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

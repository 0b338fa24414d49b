#pragma once

#include <functional>
#include <string>

// Two network namespaces joined by a veth pair, made for one test and removed after it:
// "server" side 10.201.0.1/24 and fd00:201::1/64, "client" side 10.201.0.2/24 and
// fd00:201::2/64, TCP timestamps on as Linux has them by default. Names carry the process id
// so parallel runs never meet.
class NetnsPair {
  public:
    static constexpr const char* kServerAddress = "10.201.0.1";
    static constexpr const char* kClientAddress = "10.201.0.2";
    static constexpr const char* kServerAddress6 = "fd00:201::1";
    static constexpr const char* kClientAddress6 = "fd00:201::2";

    NetnsPair();
    ~NetnsPair();
    NetnsPair(const NetnsPair&) = delete;
    NetnsPair& operator=(const NetnsPair&) = delete;

    bool ok() const { return error_.empty(); }
    const std::string& error() const { return error_; }

    const std::string& serverNs() const { return serverNs_; }
    const std::string& clientNs() const { return clientNs_; }
    const std::string& serverIf() const { return serverIf_; }
    const std::string& clientIf() const { return clientIf_; }

    // Runs `work` on the calling thread inside namespace `ns`, then returns the thread to the
    // namespace it was in. Sockets and threads created by `work` stay in `ns`.
    bool RunIn(const std::string& ns, const std::function<void()>& work) const;

    // Runs a shell command; true when it exits 0.
    static bool Shell(const std::string& command);

  private:
    std::string serverNs_;
    std::string clientNs_;
    std::string serverIf_;
    std::string clientIf_;
    std::string error_;
};

// Skips the test when namespaces cannot be made here, but fails it in CI, where a skip would
// hide a broken set-up.
#define QVX_REQUIRE_NETNS(pair)                                                        \
    do {                                                                               \
        if (!(pair).ok()) {                                                            \
            if (std::getenv("CI")) {                                                   \
                FAIL() << "network namespaces needed (CI is set): " << (pair).error(); \
            }                                                                          \
            GTEST_SKIP() << "needs root and network namespaces: " << (pair).error();   \
        }                                                                              \
    } while (0)

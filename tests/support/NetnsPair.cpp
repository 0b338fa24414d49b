#include "support/NetnsPair.h"

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>

namespace {

std::atomic<int> counter{0};

}  // namespace

bool NetnsPair::Shell(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

NetnsPair::NetnsPair() {
    std::string id = std::to_string(::getpid()) + "x" + std::to_string(counter++);
    serverNs_ = "qvx-cap-" + id + "-srv";
    clientNs_ = "qvx-cap-" + id + "-cli";
    serverIf_ = "qc" + id + "a";
    clientIf_ = "qc" + id + "b";
    if (::geteuid() != 0) {
        error_ = "not running as root";
        return;
    }
    const std::string s = "ip -n " + serverNs_ + " ";
    const std::string c = "ip -n " + clientNs_ + " ";
    const std::string steps[] = {
        "ip netns add " + serverNs_,
        "ip netns add " + clientNs_,
        "ip link add " + serverIf_ + " type veth peer name " + clientIf_,
        "ip link set " + serverIf_ + " netns " + serverNs_,
        "ip link set " + clientIf_ + " netns " + clientNs_,
        s + "addr add " + kServerAddress + "/24 dev " + serverIf_,
        c + "addr add " + kClientAddress + "/24 dev " + clientIf_,
        // Usable at once: no duplicate address detection on a link of two.
        s + "addr add " + kServerAddress6 + "/64 dev " + serverIf_ + " nodad",
        c + "addr add " + kClientAddress6 + "/64 dev " + clientIf_ + " nodad",
        // Room for a datagram longer than the 2048 bytes handed over.
        s + "link set " + serverIf_ + " mtu 4000",
        c + "link set " + clientIf_ + " mtu 4000",
        // As real clients send them: the detector must find the payload behind the options.
        "ip netns exec " + serverNs_ + " sysctl -qw net.ipv4.tcp_timestamps=1",
        "ip netns exec " + clientNs_ + " sysctl -qw net.ipv4.tcp_timestamps=1",
        s + "link set lo up",
        c + "link set lo up",
        s + "link set " + serverIf_ + " up",
        c + "link set " + clientIf_ + " up",
    };
    for (const std::string& step : steps) {
        if (!Shell(step)) {
            error_ = "'" + step + "' failed";
            return;
        }
    }
}

NetnsPair::~NetnsPair() {
    // Deleting a namespace removes its veth end and so the pair.
    for (const std::string& ns : {serverNs_, clientNs_}) {
        Shell("ip netns pids " + ns + " | xargs -r kill");
        Shell("ip netns del " + ns);
    }
    Shell("ip link del " + serverIf_);
}

bool NetnsPair::RunIn(const std::string& ns, const std::function<void()>& work) const {
    int original = ::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
    int target = ::open(("/run/netns/" + ns).c_str(), O_RDONLY | O_CLOEXEC);
    bool entered = original >= 0 && target >= 0 && ::setns(target, CLONE_NEWNET) == 0;
    if (entered) {
        work();
        ::setns(original, CLONE_NEWNET);
    }
    if (target >= 0) {
        ::close(target);
    }
    if (original >= 0) {
        ::close(original);
    }
    return entered;
}

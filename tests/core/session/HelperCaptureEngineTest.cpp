#include "core/session/HelperCaptureEngine.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include "core/capture/PacketReceiver.h"
#include "core/session/CaptureHelperPath.h"

using namespace std::chrono_literals;

namespace {

// Records what the engine reports, from its reader thread.
class RecordingReceiver : public PacketReceiver {
  public:
    void OnCapturedPacket(const CapturedPacket* packet) override {
        std::lock_guard lock(mutex_);
        packets_.push_back(packet->length);
        changed_.notify_all();
    }
    void OnCaptureStatus(const CaptureStatus& status) override {
        std::lock_guard lock(mutex_);
        statuses_.push_back(status);
        changed_.notify_all();
    }
    // The first report that ends the capture (failed or lost), or none within `limit`.
    std::optional<CaptureStatus> WaitForEnd(std::chrono::milliseconds limit = 5000ms) {
        std::unique_lock lock(mutex_);
        std::optional<CaptureStatus> found;
        changed_.wait_for(lock, limit, [&] {
            for (const CaptureStatus& status : statuses_) {
                if (status.state == CaptureStatus::kFailed ||
                    status.state == CaptureStatus::kLost) {
                    found = status;
                    return true;
                }
            }
            return false;
        });
        return found;
    }
    bool WaitForRunning(std::chrono::milliseconds limit = 5000ms) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, limit, [&] {
            for (const CaptureStatus& status : statuses_) {
                if (status.state == CaptureStatus::kRunning) {
                    return true;
                }
            }
            return false;
        });
    }
    std::size_t Packets() {
        std::lock_guard lock(mutex_);
        return packets_.size();
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<CaptureStatus> statuses_;
    std::vector<std::uint32_t> packets_;
};

// Helper stand-ins: shell scripts that write what a broken or hostile helper might.
// "\001\003\000\000\000\002\000\000" is a status message: running, no interface name.
constexpr char kRunning[] = "printf '\\001\\004\\000\\000\\000\\002\\000\\000\\000'";

using Cause = CaptureStatus::Cause;

struct Case {
    const char* name;
    std::string script;  // body of the stand-in; empty: no helper at all
    CaptureStatus::State state;
    std::string message;
    Cause cause;
    std::size_t packets;  // handed over before the end
};

std::vector<Case> cases() {
    return {
        {"no helper found", "", CaptureStatus::kFailed,
         "cannot find the capture helper quorvex-capture (see README)", Cause::kHelperMissing, 0},
        {"exits at once", "exit 3", CaptureStatus::kFailed,
         "the capture helper ended unexpectedly (exit status 3)", Cause::kHelperEnded, 0},
        {"killed by a signal", "kill -SEGV $$", CaptureStatus::kFailed,
         "the capture helper ended unexpectedly (signal 11)", Cause::kHelperEnded, 0},
        {"garbage, then silence", "printf 'garbage'; exec /bin/sleep 30", CaptureStatus::kFailed,
         "the capture helper sent malformed data", Cause::kHelperMalformed, 0},
        {"dies while capturing",
         std::string(kRunning) + "; printf '\\002\\024\\000\\000\\000'; head -c 20 /dev/zero",
         CaptureStatus::kLost, "the capture helper ended unexpectedly (exit status 0)",
         Cause::kHelperEnded, 1},
        {"datagram over 65575 bytes announced",
         std::string(kRunning) + "; printf '\\002\\050\\000\\001\\000'; exec /bin/sleep 30",
         CaptureStatus::kLost, "the capture helper sent malformed data", Cause::kHelperMalformed,
         0},
        {"running told twice", std::string(kRunning) + "; " + kRunning + "; exec /bin/sleep 30",
         CaptureStatus::kLost, "the capture helper sent malformed data", Cause::kHelperMalformed,
         0},
        {"its own failure passes through",
         "printf '\\001\\014\\000\\000\\000\\003\\007\\004\\000eth9oops'", CaptureStatus::kFailed,
         "oops", Cause::kAdapterMissing, 0},
    };
}

class HelperCaptureEngineTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/qvx-helper-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    std::string standIn(const std::string& name, const std::string& body) {
        std::filesystem::path path = dir_ / name;
        std::ofstream(path) << "#!/bin/sh\n" << body << "\n";
        ::chmod(path.c_str(), 0755);
        return path.string();
    }

    std::filesystem::path dir_;
};

}  // namespace

TEST_F(HelperCaptureEngineTest, ABrokenOrHostileHelperIsACaptureFailureNeverAHang) {
    int n = 0;
    for (const Case& c : cases()) {
        SCOPED_TRACE(c.name);
        RecordingReceiver receiver;
        std::string path =
            c.script.empty() ? "" : standIn("helper" + std::to_string(n++), c.script);
        HelperCaptureEngine engine(receiver, path);
        engine.Start(AdapterEntry{});
        std::optional<CaptureStatus> end = receiver.WaitForEnd();
        ASSERT_TRUE(end.has_value());
        EXPECT_EQ(end->state, c.state);
        EXPECT_EQ(end->message, c.message);
        EXPECT_EQ(end->cause, c.cause);
        engine.Stop();
        EXPECT_EQ(receiver.Packets(), c.packets);
        EXPECT_EQ(engine.HelperPid(), -1);
        EXPECT_EQ(engine.Status().state, CaptureStatus::kIdle);
    }
}

TEST_F(HelperCaptureEngineTest, AHelperThatCannotBeStartedFails) {
    std::filesystem::path notExecutable = dir_ / "plain-file";
    std::ofstream(notExecutable) << "#!/bin/sh\n";
    RecordingReceiver receiver;
    HelperCaptureEngine engine(receiver, notExecutable.string());
    engine.Start(AdapterEntry{});
    std::optional<CaptureStatus> end = receiver.WaitForEnd();
    ASSERT_TRUE(end.has_value());
    EXPECT_EQ(end->state, CaptureStatus::kFailed);
    EXPECT_EQ(end->cause, Cause::kHelperNotPermitted);
    EXPECT_EQ(end->message.rfind("cannot start the capture helper " + notExecutable.string(), 0),
              0u)
        << end->message;
}

// Stop closes the helper's input; one that ends then (as the real one does) is reaped at once,
// one that does not is terminated after the grace time. Neither outlives Stop.
TEST_F(HelperCaptureEngineTest, StopEndsAndReapsTheHelper) {
    struct StopCase {
        const char* name;
        std::string script;
    } stopCases[] = {
        {"ends with its input", std::string(kRunning) + "; exec /bin/cat > /dev/null"},
        {"ignores its input", std::string(kRunning) + "; exec /bin/sleep 30"},
    };
    for (const StopCase& c : stopCases) {
        SCOPED_TRACE(c.name);
        RecordingReceiver receiver;
        HelperCaptureEngine engine(receiver, standIn(c.name, c.script));
        engine.Start(AdapterEntry{});
        ASSERT_TRUE(receiver.WaitForRunning());
        const pid_t pid = engine.HelperPid();
        ASSERT_GT(pid, 0);
        engine.Stop();
        EXPECT_EQ(engine.HelperPid(), -1);
        errno = 0;
        EXPECT_EQ(::kill(pid, 0), -1);  // reaped: the id is gone
        EXPECT_EQ(errno, ESRCH);
        EXPECT_FALSE(receiver.WaitForEnd(10ms).has_value());  // a stop is not a failure
    }
}

// A helper kept for a group is named in the message of those outside it; a runnable one, a
// folder or nothing at all is not.
TEST_F(HelperCaptureEngineTest, NamesAHelperTheUserMayNotRun) {
    const struct {
        const char* name;
        int mode;  // -1: absent, 0: a folder
    } files[] = {
        {"absent", -1}, {"folder", 0}, {"runnable", 0755}, {"kept", 0640}, {"later", 0640}};
    std::vector<std::string> paths;
    for (const auto& file : files) {
        paths.push_back((dir_ / file.name).string());
        if (file.mode == 0) {
            std::filesystem::create_directory(paths.back());
        } else if (file.mode > 0) {
            std::ofstream(paths.back()) << "#!/bin/sh\n";
            ::chmod(paths.back().c_str(), static_cast<mode_t>(file.mode));
        }
    }
    EXPECT_EQ(CaptureHelperPath::firstNotRunnable(paths), paths[3]);
    EXPECT_EQ(CaptureHelperPath::firstNotRunnable({paths[0], paths[1], paths[2]}), "");
}

TEST(CaptureHelperPath, LooksBesideTheProgramThenInLibexecThenTheInstalledPlace) {
    std::vector<std::string> candidates = CaptureHelperPath::candidates();
    ASSERT_GE(candidates.size(), 3u);
    const std::string self = std::filesystem::read_symlink("/proc/self/exe").parent_path();
    EXPECT_EQ(candidates[0], self + "/quorvex-capture");
    EXPECT_EQ(
        candidates[1],
        (std::filesystem::path(self).parent_path() / "libexec/quorvex/quorvex-capture").string());
    EXPECT_NE(candidates[2].find("/libexec/quorvex/quorvex-capture"), std::string::npos);
    // This test runs in the build tree, where the helper is found unless one is installed,
    // which comes first.
    const bool installed = ::access(candidates[2].c_str(), X_OK) == 0;
    EXPECT_EQ(CaptureHelperPath::find(),
              installed ? candidates[2]
                        : std::string(QUORVEX_BINARY_DIR) + "/src/helper/quorvex-capture");
}

// Measures how long a stop takes on a silent adapter (loopback, filtered to ports nobody uses
// here) and how long the open takes: through the capture helper, as the programs capture, and
// with CPacketCapture in this process for comparison. Needs root (or the helper's rights for
// the first part, cap_net_raw for the second).
#include <arpa/inet.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/capture/CPacketCapture.h"
#include "core/session/CaptureHelperPath.h"
#include "core/session/HelperCaptureEngine.h"

namespace {

class StatusWaiter : public PacketReceiver {
  public:
    void OnCapturedPacket(const CapturedPacket*) override {}
    void OnCaptureStatus(const CaptureStatus& status) override {
        std::lock_guard lock(mutex_);
        last_ = status.state;
        changed_.notify_all();
    }
    CaptureStatus::State WaitForChange() {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, std::chrono::seconds(5),
                          [&] { return last_ != CaptureStatus::kOpening; });
        CaptureStatus::State state = last_;
        last_ = CaptureStatus::kOpening;
        return state;
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    CaptureStatus::State last_ = CaptureStatus::kOpening;
};

double millis(std::chrono::steady_clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

void report(const char* what, std::vector<double> values) {
    std::sort(values.begin(), values.end());
    std::printf("%-24s min %.3f ms  median %.3f ms  max %.3f ms  (%zu runs)\n", what,
                values.front(), values[values.size() / 2], values.back(), values.size());
}

}  // namespace

int main(int argc, char** argv) {
    const char* address = argc > 1 ? argv[1] : "127.0.0.1";
    AdapterEntry adapter{};
    if (inet_pton(AF_INET, address, adapter.address) != 1) {
        std::fprintf(stderr, "usage: capture_stop_bench [IPV4 of the adapter]\n");
        return 2;
    }
    StatusWaiter waiter;
    // Opens and stops 30 times; false when a capture did not run.
    auto measure = [&](const char* name, auto start, auto stop, auto failure) {
        std::vector<double> opens;
        std::vector<double> stops;
        for (int run = 0; run < 30; ++run) {
            auto begin = std::chrono::steady_clock::now();
            start();
            if (waiter.WaitForChange() != CaptureStatus::kRunning) {
                std::fprintf(stderr, "%s: capture failed: %s\n", name, failure().c_str());
                return false;
            }
            opens.push_back(millis(std::chrono::steady_clock::now() - begin));
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            begin = std::chrono::steady_clock::now();
            stop();
            stops.push_back(millis(std::chrono::steady_clock::now() - begin));
        }
        std::printf("%s\n", name);
        report("  Start to running", opens);
        report("  Stop on a silent link", stops);
        return true;
    };

    const std::string helperPath = CaptureHelperPath::find();
    HelperCaptureEngine helper(waiter, helperPath);
    bool helped = measure(
        "through the capture helper", [&] { helper.Start(adapter); }, [&] { helper.Stop(); },
        [&] { return helper.Status().message; });
    helper.Stop();

    CPacketCapture capture(waiter);
    bool direct = measure(
        "in this process (CPacketCapture)", [&] { capture.Start(1, adapter); },
        [&] { capture.Stop(); }, [&] { return capture.Status().message; });
    if (!helped || !direct) {
        return 1;
    }
    return 0;
}

// Measures how long CPacketCapture::Stop takes on a silent adapter (loopback, filtered to
// ports nobody uses here) and how long the open takes. Needs root or cap_net_raw,cap_net_admin.
#include <arpa/inet.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

#include "core/capture/CPacketCapture.h"

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
    CPacketCapture capture(waiter);
    std::vector<double> opens;
    std::vector<double> stops;
    for (int run = 0; run < 30; ++run) {
        auto begin = std::chrono::steady_clock::now();
        capture.Start(1, adapter);
        if (waiter.WaitForChange() != CaptureStatus::kRunning) {
            std::fprintf(stderr, "capture failed: %s\n", capture.Status().message.c_str());
            return 1;
        }
        opens.push_back(millis(std::chrono::steady_clock::now() - begin));
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        begin = std::chrono::steady_clock::now();
        capture.Stop();
        stops.push_back(millis(std::chrono::steady_clock::now() - begin));
    }
    report("Start to running", opens);
    report("Stop on a silent link", stops);
    return 0;
}

#pragma once

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/capture/CPacketCapture.h"
#include "core/capture/CapturePipeReader.h"
#include "core/session/CaptureEngine.h"

// The live capture, run by the capture helper (quorvex-capture) so that no front end needs
// capture rights. A reader thread starts the helper, reads its pipe and hands datagrams and
// status reports to the receiver, as CPacketCapture's own thread would. Stop closes the
// helper's input (its signal to end), collects its counts and reaps it. A helper that cannot
// be started, dies or writes anything malformed is a capture failure, never a hang.
class HelperCaptureEngine : public CaptureEngine {
  public:
    // How long a stopping helper may take before it is terminated.
    static constexpr std::chrono::milliseconds kEndGrace{1000};

    // `helperPath` empty: no helper was found; a start then fails with that message.
    HelperCaptureEngine(PacketReceiver& receiver, std::string helperPath);
    ~HelperCaptureEngine() override;

    HelperCaptureEngine(const HelperCaptureEngine&) = delete;
    HelperCaptureEngine& operator=(const HelperCaptureEngine&) = delete;

    void SetWatchedPorts(const WatchedPorts& ports) override { ports_ = ports; }
    void SetTlsPorts(const TlsPorts& ports) override { tlsPorts_ = ports; }
    void Start(const AdapterEntry& adapter) override;
    // Must not be called from the receiver: there it only asks the capture to end.
    void Stop() override;
    CaptureStatus Status() const override;
    CPacketCapture::Statistics LastStatistics() const override;

    // The running helper's process id; -1 when none runs (for tests).
    pid_t HelperPid() const { return helperPid_.load(); }

  private:
    enum class Ending { kStopped, kHelperEnded, kMalformed, kReadFailed, kOutOfMemory };

    void Run(AdapterEntry adapter);
    bool Spawn(const AdapterEntry& adapter, CaptureStatus& failure);
    Ending ReadUntilEnd();
    bool TakeMessages(CapturePipeReader& reader);
    std::string EndHelper();
    void Report(const CaptureStatus& status);
    void CloseFd(int& fd);

    PacketReceiver& receiver_;
    std::string helperPath_;
    // Set before Start, read by Spawn on the reader thread.
    WatchedPorts ports_;
    TlsPorts tlsPorts_;
    std::thread thread_;
    std::atomic<bool> stopRequested_{false};
    std::atomic<pid_t> helperPid_{-1};
    int wakeRead_ = -1;
    int wakeWrite_ = -1;

    mutable std::mutex mutex_;  // guards status_ and statistics_
    CaptureStatus status_;
    CPacketCapture::Statistics statistics_;

    // Reader thread only.
    int toHelper_ = -1;
    int fromHelper_ = -1;
    bool running_ = false;         // the helper said its capture runs
    bool helperReported_ = false;  // the helper told a failure or loss itself
    std::vector<std::uint8_t> readBuffer_;
    std::chrono::steady_clock::time_point endDeadline_;  // set once a stop closed the input
};

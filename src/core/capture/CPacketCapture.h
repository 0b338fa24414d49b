#pragma once

#include <pcap/pcap.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/capture/AdapterEntry.h"
#include "core/capture/CaptureStatus.h"
#include "core/capture/CapturedPacket.h"
#include "core/capture/PacketReceiver.h"
#include "core/detect/TlsPorts.h"
#include "core/detect/WatchedPorts.h"

struct pcap;

// Captures the IP datagrams that pass one adapter, on a thread of its own, and hands each one
// synchronously to the receiver (a TLS port's datagram over a packet's capacity whole, through
// OnLargeDatagram; see CaptureFilter). Start returns at once; the interface is opened on the
// capture thread and the outcome is reported through the receiver and Status(). Stop wakes
// the thread and joins it; afterwards the object is as after construction.
class CPacketCapture {
  public:
    struct Statistics {
        std::uint64_t received = 0;    // datagrams that passed the kernel filter
        std::uint64_t dropped = 0;     // dropped by the kernel for lack of buffer room
        std::uint64_t handedOver = 0;  // datagrams given to the receiver

        bool operator==(const Statistics&) const = default;
    };

    static constexpr int kKernelBufferBytes = 64 << 20;
    // The longest a captured frame waits in the kernel before it is handed over.
    static constexpr int kDeliveryMilliseconds = 20;

    // Called on the capture thread once the interface is open, before the filter is compiled
    // and the first packet read; false with `failure` set refuses the capture. The capture
    // helper drops its rights here.
    using OpenedHook = std::function<bool(std::string& failure)>;

    explicit CPacketCapture(PacketReceiver& receiver);
    ~CPacketCapture();

    CPacketCapture(const CPacketCapture&) = delete;
    CPacketCapture& operator=(const CPacketCapture&) = delete;

    // Captures on the interface that holds `adapter`'s address; `receiveAll` 1 puts it in
    // promiscuous mode; the kernel filter passes segments of `ports`. `adapter` is copied:
    // SelectedAdapter() stays valid until Stop. Returns false (and changes nothing) when a
    // capture thread exists already.
    bool Start(std::int8_t receiveAll, const AdapterEntry& adapter,
               const WatchedPorts& ports = WatchedPorts{});

    // The same in two steps, for a program that must give up its rights before it starts a
    // thread (threads hold capabilities of their own): OpenHere opens the interface on the
    // calling thread (a failure is reported through the receiver there), StartOpened then
    // starts the capture thread on the open handle. Both return false when nothing happened.
    bool OpenHere(std::int8_t receiveAll, const AdapterEntry& adapter);
    bool StartOpened();

    // Ends the capture and joins the thread; returns within a few milliseconds of the
    // current hand-off's end. Does nothing when nothing was started. Must not be called
    // from the receiver (the capture thread cannot join itself): there it only asks the loop
    // to end.
    void Stop();

    // The ports the kernel filter passes from the next OpenHere on (Start takes its own).
    void SetPorts(const WatchedPorts& ports, const TlsPorts& tlsPorts) {
        ports_ = ports;
        tlsPorts_ = tlsPorts;
    }
    void SetOpenedHook(OpenedHook hook) { openedHook_ = std::move(hook); }

    // The adapter the running capture was started on; zero when idle.
    const AdapterEntry& SelectedAdapter() const { return adapter_; }

    CaptureStatus Status() const;
    bool HasThread() const { return thread_.joinable(); }

    // Counts of the last capture run (kept across Stop); while it runs, as last taken.
    Statistics LastStatistics() const;
    // Asks the capture thread to take the kernel's counts anew soon, without ending the
    // capture; nothing happens when no packet came since they were last taken. Any thread.
    void RequestStatistics();

  private:
    void Prepare(std::int8_t receiveAll, const AdapterEntry& adapter, const WatchedPorts& ports);
    void Run();
    void Capture();
    bool Open();
    void Loop();
    void ReportStatus(CaptureStatus::State state, const std::string& interfaceName,
                      const std::string& message,
                      CaptureStatus::Cause cause = CaptureStatus::Cause::kUnknown);
    void CloseHandle();
    bool SetFilter(pcap* handle, std::string& failure);
    void TakeStatistics();
    static void OnFrame(unsigned char* user, const struct pcap_pkthdr* header,
                        const unsigned char* bytes);

    PacketReceiver& receiver_;
    OpenedHook openedHook_;
    std::int8_t receiveAll_ = 0;
    AdapterEntry adapter_{};
    WatchedPorts ports_;
    TlsPorts tlsPorts_;
    std::thread thread_;
    std::atomic<bool> stopRequested_{false};
    std::atomic<bool> statisticsWanted_{false};
    std::atomic<bool> countsBehind_{false};  // packets came since the counts were taken

    mutable std::mutex mutex_;  // guards handle_ (for breakloop), status_ and statistics_
    pcap* handle_ = nullptr;
    CaptureStatus status_;
    Statistics statistics_;

    // Capture thread only (or the opening thread before it starts).
    std::string interfaceName_;
    bool opened_ = false;  // by OpenHere, not yet started
    int linkType_ = 0;
    CapturedPacket packet_;
    std::vector<bpf_insn> userlandFilter_;  // see CaptureFilter::Programs
    std::uint64_t handedOver_ = 0;
};

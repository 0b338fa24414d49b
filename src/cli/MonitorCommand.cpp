#include <csignal>
#include <cstdio>
#include <memory>
#include <vector>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <limits>
#include <mutex>
#include <optional>
#include <string>

#include "capture/CPacketCapture.h"
#include "capture/CSnmpAdapterList.h"
#include "capture/SystemInterfaceTable.h"
#include "cli/AdapterText.h"
#include "cli/CliArgs.h"
#include "cli/CliCommands.h"
#include "cli/WakeUpPipe.h"
#include "detect/StreamDecoder.h"
#include "detect/SuffixListFile.h"
#include "list/StreamStore.h"
#include "list/StreamStoreObserver.h"

namespace {

constexpr char kHelp[] =
    "usage: quorvex-cli monitor [--adapter INDEX|NAME|IPV4] [--seconds N] [--count N]\n"
    "                           [--suffix-file FILE] [--json]\n"
    "\n"
    "Watches one adapter and prints each stream once, as it is found, like detect does.\n"
    "Ends after N seconds, after N rows, or on Ctrl+C (SIGINT) or SIGTERM.\n"
    "\n"
    "  --adapter A       the adapter to watch, by its index in 'quorvex-cli adapters', its\n"
    "                    name or its IPv4 address; needed when there are several\n"
    "  --seconds N       stop after N seconds\n"
    "  --count N         stop after N rows\n"
    "  --suffix-file F   the suffix list file (created with the defaults if missing)\n"
    "  --json            one JSON object per line\n"
    "\n"
    "Capturing needs root, or the capabilities cap_net_raw and cap_net_admin on the program\n"
    "(see README). Without them monitor says so and exits with status 1.\n";

// Set by the signal handler; the main loop does the stopping.
WakeUpPipe* signalPipe = nullptr;
volatile std::sig_atomic_t signalled = 0;

void onSignal(int) {
    signalled = 1;
    if (signalPipe) {
        signalPipe->Notify();
    }
}

// Runs on the capture thread: detection straight into the store, and a wake-up for the main
// thread on news. Nothing here waits for the main thread.
class MonitorReceiver : public PacketReceiver, public StreamStoreObserver {
  public:
    MonitorReceiver(const StreamDecoder& decoder, StreamStore& store, const WakeUpPipe& wake)
        : decoder_(decoder), store_(store), wake_(wake) {}

    void OnCapturedPacket(const CapturedPacket* packet) override {
        decoder_.decodeAndDispatch(*packet, &store_);
    }
    void OnCaptureStatus(const CaptureStatus&) override { wake_.Notify(); }
    void rowAdded(int) override {
        // One wake-up per batch: a write per row would cost the capture thread a system call
        // per detection under a flood of requests.
        if (!newRows_.exchange(true)) {
            wake_.Notify();
        }
    }
    void rowRefreshed(int) override {}

    // Called by the main thread before it looks at the store.
    void TakeNews() { newRows_ = false; }

  private:
    const StreamDecoder& decoder_;
    StreamStore& store_;
    const WakeUpPipe& wake_;
    std::atomic<bool> newRows_{false};
};

// TEMPORARY until the shared row printer lands.
void printRow(StreamStore& store, int row, bool json) {
    DetectedStream* record = store.record(row);
    if (!record) {
        return;
    }
    std::printf(json ? "{\"url\":\"%s%s\"}\n" : "%s%s\n", record->host, record->path);
}

// Prints the store's rows in order, each once, up to a limit.
class RowPrinter {
  public:
    RowPrinter(StreamStore& store, bool json, int limit)
        : store_(store), json_(json), limit_(limit) {}

    void PrintNew() {
        for (int rows = store_.rowCount(); printed_ < rows && !Full(); ++printed_) {
            printRow(store_, printed_, json_);
        }
        std::fflush(stdout);
    }
    bool Full() const { return printed_ >= limit_; }

  private:
    StreamStore& store_;
    bool json_;
    int limit_;
    int printed_ = 0;
};

void printStatistics(const CPacketCapture::Statistics& counts) {
    std::fprintf(stderr,
                 "quorvex-cli monitor: %llu datagrams received by the filter, %llu dropped by "
                 "the kernel\n",
                 static_cast<unsigned long long>(counts.received),
                 static_cast<unsigned long long>(counts.dropped));
}

class SignalScope {
  public:
    explicit SignalScope(WakeUpPipe& pipe) {
        signalled = 0;
        signalPipe = &pipe;
        struct sigaction action {};
        action.sa_handler = onSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        sigaction(SIGINT, &action, &oldInt_);
        sigaction(SIGTERM, &action, &oldTerm_);
    }
    ~SignalScope() {
        sigaction(SIGINT, &oldInt_, nullptr);
        sigaction(SIGTERM, &oldTerm_, nullptr);
        signalPipe = nullptr;
    }

  private:
    struct sigaction oldInt_ {};
    struct sigaction oldTerm_ {};
};

}  // namespace

int runMonitor(int argc, char** argv) {
    CliArgs args("monitor", argc, argv, {"adapter", "seconds", "count", "suffix-file"}, {"json"});
    if (args.wantsHelp()) {
        std::fputs(kHelp, stdout);
        return 0;
    }
    auto seconds = args.number("seconds", 1, 10'000'000);
    auto count = args.number("count", 1, 1'000'000'000);
    if (!args.ok()) {
        return args.fail(args.error());
    }
    bool json = args.has("json");

    auto suffixPath = args.value("suffix-file");
    auto loaded = SuffixListFile::load(suffixPath ? std::filesystem::path(*suffixPath)
                                                  : SuffixListFile::defaultPath());
    if (!loaded.ok) {
        return args.fail(loaded.error);
    }

    SystemInterfaceTable system;
    std::vector<AdapterEntry> adapters;
    if (CSnmpAdapterList::ListAdapters(system, adapters) < 0) {
        return args.fail("cannot read the network interfaces");
    }
    std::string error;
    auto chosen = AdapterText::Choose(adapters, args.value("adapter"), error);
    if (!chosen) {
        return args.fail(error);
    }
    // The detector keeps this snapshot of the entry until monitoring ends.
    auto adapter =
        std::make_shared<const AdapterEntry>(adapters[static_cast<std::size_t>(*chosen)]);

    WakeUpPipe wake;
    if (!wake.ok()) {
        return args.fail("cannot create a pipe");
    }
    StreamDecoder decoder;
    decoder.setSuffixTable(loaded.table);
    decoder.setAdapter(adapter);
    StreamStore store;
    auto receiver = std::make_shared<MonitorReceiver>(decoder, store, wake);
    store.addObserver(receiver);
    SignalScope signals(wake);
    CPacketCapture capture(*receiver);

    using Clock = std::chrono::steady_clock;
    const bool timed = seconds.has_value();
    const Clock::time_point deadline =
        timed ? Clock::now() + std::chrono::seconds(*seconds) : Clock::time_point::max();
    const int rowLimit = count ? static_cast<int>(*count) : std::numeric_limits<int>::max();
    capture.Start(1, *adapter);

    RowPrinter rows(store, json, rowLimit);
    int status = 0;
    bool announced = false;
    while (true) {
        receiver->TakeNews();
        rows.PrintNew();
        CaptureStatus now = capture.Status();
        if (now.state == CaptureStatus::kRunning && !announced) {
            std::fprintf(stderr, "quorvex-cli monitor: capturing on %s (%s)\n",
                         now.interfaceName.c_str(), AdapterText::Ipv4(adapter->address).c_str());
            announced = true;
        }
        if (now.state == CaptureStatus::kFailed || now.state == CaptureStatus::kLost) {
            std::fprintf(stderr, "quorvex-cli monitor: %s\n", now.message.c_str());
            status = 1;
            break;
        }
        if (signalled || rows.Full()) {
            break;
        }
        int waitMs = -1;
        if (timed) {
            auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0) {
                break;
            }
            waitMs = static_cast<int>(std::min<long long>(left.count(), 1'000'000'000));
        }
        wake.Wait(waitMs);
    }
    capture.Stop();
    store.removeObserver(receiver.get());
    rows.PrintNew();  // found between the last look and the stop
    if (announced) {
        printStatistics(capture.LastStatistics());
    }
    return status;
}
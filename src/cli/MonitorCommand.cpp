#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "core/capture/CPacketCapture.h"
#include "core/capture/CSnmpAdapterList.h"
#include "core/capture/SystemInterfaceTable.h"
#include "cli/AdapterText.h"
#include "cli/CliArgs.h"
#include "cli/CliCommands.h"
#include "cli/SignalPipe.h"
#include "cli/StreamPrinter.h"
#include "cli/WakeUpPipe.h"
#include "core/detect/StreamDecoder.h"
#include "core/detect/SuffixListFile.h"
#include "core/store/StreamStore.h"

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

// Runs on the capture thread: detection into the store, and each new row's record into a
// batch for the main thread, which prints it. Printing here would make a slow terminal or
// pipe slow the capture down; only a wake-up per batch crosses over.
class MonitorReceiver : public PacketReceiver {
  public:
    MonitorReceiver(const StreamDecoder& decoder, StreamStore& store, const WakeUpPipe& wake)
        : decoder_(decoder), store_(store), wake_(wake) {}

    void OnCapturedPacket(const CapturedPacket* packet) override {
        if (decoder_.decode(*packet, record_) != 0 || !store_.add(record_).added) {
            return;
        }
        bool wasEmpty;
        {
            std::lock_guard lock(mutex_);
            wasEmpty = newRows_.empty();
            newRows_.push_back(record_);
        }
        if (wasEmpty) {
            wake_.Notify();
        }
    }

    void OnCaptureStatus(const CaptureStatus&) override { wake_.Notify(); }

    // Main thread: swaps the batch of new rows with `taken` (emptied first, so its capacity
    // comes back to the capture thread).
    void TakeNewRows(std::vector<DetectedStream>& taken) {
        taken.clear();
        std::lock_guard lock(mutex_);
        newRows_.swap(taken);
    }

  private:
    const StreamDecoder& decoder_;
    StreamStore& store_;
    const WakeUpPipe& wake_;
    DetectedStream record_{};
    std::mutex mutex_;
    std::vector<DetectedStream> newRows_;
};

// Prints new rows in the order found, up to a limit.
class RowPrinter {
  public:
    RowPrinter(MonitorReceiver& receiver, bool json, std::uint64_t limit)
        : receiver_(receiver),
          printer_(json ? StreamPrinter::Format::Json : StreamPrinter::Format::Text),
          limit_(limit) {}

    // False when the output failed.
    bool PrintNew() {
        receiver_.TakeNewRows(batch_);
        for (const DetectedStream& row : batch_) {
            if (Full()) {
                break;
            }
            if (!printer_.print(row)) {
                return false;
            }
            ++printed_;
        }
        return std::fflush(stdout) == 0;
    }
    bool Full() const { return printed_ >= limit_; }

  private:
    MonitorReceiver& receiver_;
    StreamPrinter printer_;
    std::uint64_t limit_;
    std::uint64_t printed_ = 0;
    std::vector<DetectedStream> batch_;
};

void printStatistics(const CPacketCapture::Statistics& counts) {
    std::fprintf(stderr,
                 "quorvex-cli monitor: %llu datagrams received by the filter, %llu dropped by "
                 "the kernel\n",
                 static_cast<unsigned long long>(counts.received),
                 static_cast<unsigned long long>(counts.dropped));
}

// A closed output pipe then shows as a failed write, and the capture still stops cleanly.
class IgnoreSigpipe {
  public:
    IgnoreSigpipe() {
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        sigaction(SIGPIPE, &ignore, &old_);
    }
    ~IgnoreSigpipe() { sigaction(SIGPIPE, &old_, nullptr); }

  private:
    struct sigaction old_ {};
};

struct MonitorOptions {
    std::optional<std::uint64_t> seconds;
    std::optional<std::uint64_t> count;
    bool json = false;
};

enum class LoopEnd { kDone, kCaptureFailed, kOutputFailed };

// Prints rows as they come until the time or row limit, a signal, or a capture failure.
LoopEnd followCapture(const CPacketCapture& capture, RowPrinter& rows, const WakeUpPipe& wake,
                      SignalPipe& signals, std::optional<std::uint64_t> seconds) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline =
        seconds ? Clock::now() + std::chrono::seconds(*seconds) : Clock::time_point::max();
    bool announced = false;
    while (true) {
        if (!rows.PrintNew()) {
            return LoopEnd::kOutputFailed;
        }
        CaptureStatus now = capture.Status();
        if (now.state == CaptureStatus::kRunning && !announced) {
            std::fprintf(stderr, "quorvex-cli monitor: capturing on %s (%s)\n",
                         now.interfaceName.c_str(),
                         AdapterText::Ipv4(capture.SelectedAdapter().address).c_str());
            announced = true;
        }
        if (now.state == CaptureStatus::kFailed || now.state == CaptureStatus::kLost) {
            std::fprintf(stderr, "quorvex-cli monitor: %s\n", now.message.c_str());
            return LoopEnd::kCaptureFailed;
        }
        if (signals.Drain() || rows.Full()) {
            return LoopEnd::kDone;
        }
        int waitMs = -1;
        if (seconds) {
            auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0) {
                return LoopEnd::kDone;
            }
            waitMs = static_cast<int>(std::min<long long>(left.count(), 1'000'000'000));
        }
        wake.Wait(waitMs, signals.fd());
    }
}

// Watches `adapter` until the options or a signal end it; the exit status.
int watch(const CliArgs& args, std::shared_ptr<const AdapterEntry> adapter,
          std::shared_ptr<const SuffixTable> suffixes, const MonitorOptions& options) {
    WakeUpPipe wake;
    // SIGINT and SIGTERM only write to this pipe; followCapture does the stopping.
    SignalPipe signals;
    IgnoreSigpipe ignoreSigpipe;
    if (!wake.ok() || !signals.ok()) {
        return args.fail("cannot create a pipe");
    }
    StreamDecoder decoder;
    decoder.setSuffixTable(std::move(suffixes));
    // The detector keeps this snapshot of the entry until monitoring ends.
    decoder.setAdapter(adapter);
    StreamStore store;
    MonitorReceiver receiver(decoder, store, wake);
    RowPrinter rows(receiver, options.json,
                    options.count.value_or(std::numeric_limits<std::uint64_t>::max()));
    CPacketCapture capture(receiver);

    capture.Start(1, *adapter);
    LoopEnd end = followCapture(capture, rows, wake, signals, options.seconds);
    bool ran = end != LoopEnd::kCaptureFailed || capture.Status().state == CaptureStatus::kLost;
    capture.Stop();
    // Rows found between the last look and the stop.
    bool printed = end != LoopEnd::kOutputFailed && rows.PrintNew();
    if (!printed) {
        std::fprintf(stderr, "quorvex-cli monitor: cannot write the output\n");
    }
    if (ran) {
        printStatistics(capture.LastStatistics());
    }
    return end == LoopEnd::kDone && printed ? 0 : 1;
}

}  // namespace

int runMonitor(int argc, char** argv) {
    CliArgs args("monitor", argc, argv, {"adapter", "seconds", "count", "suffix-file"}, {"json"});
    if (args.wantsHelp()) {
        std::fputs(kHelp, stdout);
        return 0;
    }
    MonitorOptions options;
    options.seconds = args.number("seconds", 1, 10'000'000);
    options.count = args.number("count", 1, 1'000'000'000);
    options.json = args.has("json");
    if (!args.ok()) {
        return args.fail(args.error());
    }

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
    auto adapter =
        std::make_shared<const AdapterEntry>(adapters[static_cast<std::size_t>(*chosen)]);
    return watch(args, adapter, loaded.table, options);
}

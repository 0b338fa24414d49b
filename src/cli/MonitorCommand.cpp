#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/AdapterText.h"
#include "cli/CliArgs.h"
#include "cli/CliCommands.h"
#include "cli/DroppedStreams.h"
#include "cli/OutputFormat.h"
#include "cli/SignalPipe.h"
#include "cli/StreamPrinter.h"
#include "cli/TerminalText.h"
#include "cli/WakeUpPipe.h"
#include "core/capture/CSnmpAdapterList.h"
#include "core/capture/SystemInterfaceTable.h"
#include "core/detect/SuffixListFile.h"
#include "core/session/MonitorSession.h"

namespace {

constexpr char kHelp[] =
    "usage: quorvex-cli monitor [--adapter INDEX|NAME|IPV4|IPV6] [--seconds N] [--count N]\n"
    "                           [--port N]... [--suffix-file FILE] [--max-streams N] [--json]\n"
    "                           [--as curl|ffmpeg|yt-dlp] [--cookie-reuse]\n"
    "                           [--keylog FILE] [--tls-port N]...\n"
    "\n"
    "Watches one adapter and prints each stream once, as it is found, like detect does.\n"
    "Ends after N seconds, after N rows, or on Ctrl+C (SIGINT) or SIGTERM.\n"
    "\n"
    "  --adapter A       the adapter to watch, by its index in 'quorvex-cli adapters', its\n"
    "                    name, its IPv4 address or (without one) its IPv6 address; needed\n"
    "                    when there are several\n"
    "  --port N          also watch TCP port N (repeatable); 80, 1755 and 554 always\n"
    "  --keylog FILE     the TLS key log a browser writes (SSLKEYLOGFILE), followed as it\n"
    "                    grows (it may not exist yet); HTTPS requests on the TLS ports are\n"
    "                    read with it, their records waiting up to 10 s for their keys\n"
    "  --tls-port N      also read port N as TLS over TCP and QUIC over UDP\n"
    "                    (repeatable); 443 always\n"
    "  --seconds N       stop after N seconds\n"
    "  --count N         stop after N rows\n"
    "  --suffix-file F   the suffix list file (created with the defaults if missing)\n"
    "  --max-streams N   list at most N streams (default 1000000); further new streams\n"
    "                    are counted in the summary on stderr, not printed\n"
    "  --json            one JSON object per line (with referer and userAgent; https rows\n"
    "                    with httpVersion 1.1, 2 or 3, and sni)\n"
    "  --as TOOL         each stream as a curl, ffmpeg or yt-dlp command, quoted for a\n"
    "                    POSIX shell, with the request's Referer and User-Agent\n"
    "  --cookie-reuse    keep each request's Cookie and put it into --as curl commands\n"
    "                    (off: on a shared network it is someone else's session)\n"
    "\n"
    "Capturing runs through the capture helper quorvex-capture, which needs root or the\n"
    "capability cap_net_raw (see README). Without it monitor says so and exits with status 1.\n";

// Prints new rows in the order found, up to a limit. Rows are printed on the main thread, so
// that a slow terminal or pipe never slows the capture down.
class RowPrinter {
  public:
    // Lines are collected and written once per call: a million new rows a second must not
    // cost a million writes on the core the capture shares.
    RowPrinter(MonitorSession& session, StreamPrinter::Format format, std::uint64_t limit)
        : session_(session), printer_(format, stdout, true), limit_(limit) {}

    // False when the output failed.
    bool PrintNew() {
        const int rows = session_.takeChanges().rowCount;
        DetectedStream record;
        for (; shown_ < rows && !Full(); ++shown_) {
            if (!session_.copyRecord(shown_, record) || !printer_.print(record)) {
                return false;
            }
            ++printed_;
        }
        return printer_.flush();
    }
    bool Full() const { return printed_ >= limit_; }

  private:
    MonitorSession& session_;
    StreamPrinter printer_;
    std::uint64_t limit_;
    std::uint64_t printed_ = 0;
    int shown_ = 0;
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
    std::optional<std::uint64_t> maxStreams;
    WatchedPorts ports;
    TlsPorts tlsPorts;
    std::string keyLogPath;
    StreamPrinter::Format format = StreamPrinter::Format::Text;
    bool cookieReuse = false;
};

enum class LoopEnd { kDone, kCaptureFailed, kOutputFailed };

// Prints rows as they come until the time or row limit, a signal, or a capture failure.
LoopEnd followCapture(const MonitorSession& session, RowPrinter& rows, const WakeUpPipe& wake,
                      SignalPipe& signals, std::optional<std::uint64_t> seconds) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline =
        seconds ? Clock::now() + std::chrono::seconds(*seconds) : Clock::time_point::max();
    bool announced = false;
    while (true) {
        if (!rows.PrintNew()) {
            return LoopEnd::kOutputFailed;
        }
        CaptureStatus now = session.captureStatus();
        if (now.state == CaptureStatus::kRunning && !announced) {
            std::fprintf(stderr, "quorvex-cli monitor: capturing on %s (%s)\n",
                         TerminalText::escaped(now.interfaceName).c_str(),
                         AdapterText::Address(session.adapter()).c_str());
            announced = true;
        }
        if (now.state == CaptureStatus::kFailed || now.state == CaptureStatus::kLost) {
            // The text came over the helper's pipe: shown, never obeyed, by the terminal.
            std::fprintf(stderr, "quorvex-cli monitor: %s\n",
                         TerminalText::escaped(now.message).c_str());
            return LoopEnd::kCaptureFailed;
        }
        if (signals.drain() || rows.Full()) {
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
        wake.wait(waitMs, signals.fd());
    }
}

// Watches `adapter` until the options or a signal end it; the exit status.
int watch(const CliArgs& args, const AdapterEntry& adapter,
          std::shared_ptr<const SuffixTable> suffixes, const MonitorOptions& options) {
    WakeUpPipe wake;
    // SIGINT and SIGTERM only write to this pipe; followCapture does the stopping.
    SignalPipe signals;
    IgnoreSigpipe ignoreSigpipe;
    if (!wake.ok() || !signals.ok()) {
        return args.fail("cannot create a pipe");
    }
    SessionCallbacks callbacks;
    callbacks.rowsChanged = [&wake] { wake.notify(); };
    callbacks.captureStatus = [&wake](const CaptureStatus&, int) { wake.notify(); };
    MonitorSession session(std::move(callbacks));
    session.setSuffixTable(std::move(suffixes));
    session.setWatchedPorts(options.ports);
    session.setTlsPorts(options.tlsPorts);
    session.setKeyLogPath(options.keyLogPath);
    if (options.maxStreams) {
        session.setRowLimit(static_cast<int>(*options.maxStreams));
    }
    session.setCookieReuse(options.cookieReuse);
    RowPrinter rows(session, options.format,
                    options.count.value_or(std::numeric_limits<std::uint64_t>::max()));

    session.start(adapter);
    LoopEnd end = followCapture(session, rows, wake, signals, options.seconds);
    bool ran =
        end != LoopEnd::kCaptureFailed || session.captureStatus().state == CaptureStatus::kLost;
    session.stop();
    // Rows found between the last look and the stop.
    bool printed = end != LoopEnd::kOutputFailed && rows.PrintNew();
    if (!printed) {
        std::fprintf(stderr, "quorvex-cli monitor: cannot write the output\n");
    }
    if (ran) {
        printStatistics(session.captureStatistics());
    }
    printDroppedStreams("monitor", session);
    printUnreadConnections("monitor", session.secureSummary());
    return end == LoopEnd::kDone && printed ? 0 : 1;
}

}  // namespace

int runMonitor(int argc, char** argv) {
    CliArgs args("monitor", argc, argv,
                 {"adapter", "seconds", "count", "suffix-file", "port", "max-streams", "as",
                  "keylog", "tls-port"},
                 {"json", "cookie-reuse"});
    if (args.wantsHelp()) {
        std::fputs(kHelp, stdout);
        return 0;
    }
    MonitorOptions options;
    options.seconds = args.number("seconds", 1, 10'000'000);
    options.count = args.number("count", 1, 1'000'000'000);
    options.maxStreams = args.number("max-streams", 1, kMaxStreamsLimit);
    options.cookieReuse = args.has("cookie-reuse");
    std::optional<WatchedPorts> ports = args.watchedPorts();
    if (ports) {
        options.ports = *ports;
    }
    std::optional<TlsPorts> tlsPorts = args.ok() ? args.tlsPorts() : std::nullopt;
    if (tlsPorts) {
        options.tlsPorts = *tlsPorts;
    }
    options.keyLogPath = args.value("keylog").value_or("");
    if (!args.ok()) {
        return args.fail(args.error());
    }
    std::string formatError;
    std::optional<StreamPrinter::Format> format = OutputFormat::choose(args, formatError);
    if (!format) {
        return args.fail(formatError);
    }
    options.format = *format;

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
    return watch(args, adapters[static_cast<std::size_t>(*chosen)], loaded.table, options);
}

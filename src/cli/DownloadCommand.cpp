#include <poll.h>

#include <cerrno>
#include <charconv>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/AdapterText.h"
#include "cli/CliArgs.h"
#include "cli/CliCommands.h"
#include "cli/DownloadUrl.h"
#include "cli/ProgressLinePrinter.h"
#include "cli/SignalPipe.h"
#include "cli/TerminalDownloadHost.h"
#include "core/capture/CSnmpAdapterList.h"
#include "core/capture/SystemInterfaceTable.h"
#include "core/detect/DetectedStream.h"
#include "core/download/DownloadStarter.h"
#include "core/download/DownloadWorker.h"
#include "core/download/common/RecordText.h"
#include "core/http/HeaderValueCheck.h"

namespace {

constexpr int kExitDone = 0;
constexpr int kExitFailed = 1;
constexpr int kExitInterrupted = 130;

constexpr const char* kUsage =
    "usage: quorvex-cli download URL --output FILE [--progress] [--user NAME --password PASS]\n"
    "                    [--adapter INDEX|NAME|IPV4] [--referer URL] [--user-agent TEXT]\n"
    "                    [--cookie 'NAME=VALUE; ...'] [--stall-timeout SECONDS]\n"
    "                    [--cacert FILE]\n"
    "\n"
    "Downloads one stream the way the list's save command does (http, https, mms, mmst,\n"
    "mmsu; mms servers on port 1755 unless the URL names one). An HLS playlist (.m3u8), a\n"
    "DASH manifest (.mpd) or an rtsp:// session is recorded into one file, remuxed into\n"
    "the container FILE's suffix names (.mp4, .mkv, .ts); Ctrl-C ends a live recording\n"
    "normally, with the file complete (exit 0).\n"
    "  --output FILE      the file to write (created or replaced)\n"
    "  --progress         one JSON line per row refresh on stdout, and a last line:\n"
    "                     the row's texts and the numbers they are made of\n"
    "  --user, --password the login to give when the server or proxy asks for one\n"
    "                     (otherwise asked on the terminal when stdin is one)\n"
    "  --adapter          mms: the adapter whose hardware address identifies the client,\n"
    "                     as in monitor (default: the first adapter)\n"
    "  --referer, --user-agent\n"
    "                     http: the Referer and User-Agent to send, as the player sent\n"
    "                     them (servers that check them refuse a download without)\n"
    "  --cookie           http: the Cookie to send, to the URL's own host only (never\n"
    "                     after a redirect to another host)\n"
    "  --stall-timeout    a transfer that receives nothing this long ends (default 120);\n"
    "                     a live recording then keeps what it recorded\n"
    "  --cacert FILE      https: trust the certificate authorities in this PEM file\n"
    "                     rather than the system's (a server with a certificate of its own)\n"
    "Exit status: 0 complete, 1 failed, 2 bad arguments, 130 interrupted.\n";

bool IsMmsScheme(const std::string& scheme) {
    return scheme == "mms" || scheme == "mmst" || scheme == "mmsu";
}

// Fills the record the way detection would have: scheme word, host and path of the URL.
// Returns an error text, empty when the URL fits the record.
std::string FillRecord(const std::string& url, DetectedStream& record) {
    auto split = DownloadUrl::Split(url);
    if (!split) {
        return "'" + url + "' is not a URL (scheme://server/path)";
    }
    if (!IsMmsScheme(split->scheme) && !DownloadStarter::IsHttpScheme(split->scheme) &&
        split->scheme != "rtsp") {
        return "unsupported scheme '" + split->scheme + "' (http, https, mms, mmst, mmsu, rtsp)";
    }
    if (!FitsRecordText(record.host, split->host)) {
        return "the server part of the URL is longer than " +
               std::to_string(DetectedStream::kHostCapacity - 1) + " bytes";
    }
    // The query goes where detection puts it, so a signed URL's long token fits.
    std::size_t queryStart = split->path.find('?');
    std::string path = split->path.substr(0, queryStart);
    std::string query = queryStart == std::string::npos ? "" : split->path.substr(queryStart);
    if (!FitsRecordText(record.path, path)) {
        return "the path of the URL is longer than " +
               std::to_string(DetectedStream::kPathCapacity - 1) + " bytes";
    }
    if (!FitsRecordText(record.query, query)) {
        return "the query of the URL is longer than " +
               std::to_string(DetectedStream::kQueryCapacity - 1) + " bytes";
    }
    SetRecordText(record.scheme, split->scheme);
    SetRecordText(record.host, split->host);
    SetRecordText(record.path, path);
    SetRecordText(record.query, query);
    return {};
}

// The MMS client identifies itself by the selected adapter's entry, as detection would have
// copied it: the 64 bytes from the physical address on. Without any adapter it stays zero.
std::string FillAdapterInfo(const std::optional<std::string>& wanted, DetectedStream& record) {
    SystemInterfaceTable system;
    std::vector<AdapterEntry> entries;
    if (CSnmpAdapterList::ListAdapters(system, entries) < 0) {
        return wanted ? "cannot read the network interfaces" : "";
    }
    if (entries.empty() && !wanted) {
        return {};
    }
    std::string error;
    std::optional<int> chosen = wanted ? AdapterText::Choose(entries, wanted, error) : 0;
    if (!chosen) {
        return error;
    }
    static_assert(offsetof(AdapterEntry, physAddress) + sizeof record.adapterInfo <=
                  sizeof(AdapterEntry));
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(&entries[*chosen]);
    std::memcpy(record.adapterInfo, bytes + offsetof(AdapterEntry, physAddress),
                sizeof record.adapterInfo);
    return {};
}

// The request headers given on the command line; an error text when one cannot be sent.
std::string TakeRequestHeaders(const CliArgs& args, HttpDownloadOptions& options) {
    struct Given {
        const char* option;
        std::optional<std::string>& value;
    } given[] = {{"referer", options.refererOverride},
                 {"user-agent", options.userAgentOverride},
                 {"cookie", options.cookieOverride}};
    for (Given& header : given) {
        header.value = args.value(header.option);
        if (header.value && !HeaderValueCheck::sendable(*header.value)) {
            return std::string("--") + header.option + " holds a control byte";
        }
    }
    return {};
}

// Waits for the end of the download; a signal cancels it (once) and is remembered.
bool WaitForEnd(TerminalDownloadHost& host, SignalPipe& signals, DownloadWorker& worker) {
    bool interrupted = false;
    while (!host.ended()) {
        pollfd fds[2] = {{host.endedFd(), POLLIN, 0}, {signals.fd(), POLLIN, 0}};
        if (poll(fds, 2, -1) < 0 && errno != EINTR) {
            break;
        }
        if (host.ended()) {
            break;
        }
        if (signals.drain() && !interrupted) {
            interrupted = true;
            host.interrupt();
            worker.Cancel();
        }
    }
    return interrupted;
}

}  // namespace

int runDownload(int argc, char** argv) {
    CliArgs args("download", argc, argv,
                 {"output", "user", "password", "adapter", "referer", "user-agent", "cookie",
                  "stall-timeout", "cacert"},
                 {"progress"}, 1);
    if (args.wantsHelp()) {
        std::fputs(kUsage, stdout);
        return kExitDone;
    }
    if (!args.ok()) {
        return args.fail(args.error());
    }
    if (args.positional().size() != 1) {
        return args.fail("needs one URL (see --help)");
    }
    auto output = args.value("output");
    if (!output || output->empty()) {
        return args.fail("needs --output FILE");
    }
    auto user = args.value("user");
    auto password = args.value("password");
    if (user.has_value() != password.has_value()) {
        return args.fail("--user and --password go together");
    }

    HttpDownloadOptions httpOptions;
    if (std::string problem = TakeRequestHeaders(args, httpOptions); !problem.empty()) {
        return args.fail(problem);
    }
    if (auto stall = args.value("stall-timeout")) {
        long seconds = 0;
        auto [end, ec] = std::from_chars(stall->data(), stall->data() + stall->size(), seconds);
        if (ec != std::errc() || end != stall->data() + stall->size() || seconds < 1 ||
            seconds > 86400) {
            return args.fail("--stall-timeout takes whole seconds from 1 to 86400");
        }
        httpOptions.stallSeconds = seconds;
    }

    if (auto caFile = args.value("cacert")) {
        if (caFile->empty()) {
            return args.fail("--cacert needs a file name");
        }
        httpOptions.caFile = *caFile;
    }

    auto record = std::make_unique<DetectedStream>();
    std::memset(record.get(), 0, sizeof(DetectedStream));
    std::string problem = FillRecord(args.positional()[0], *record);
    if (!problem.empty()) {
        return args.fail(problem);
    }
    if (IsMmsScheme(record->scheme)) {
        problem = FillAdapterInfo(args.value("adapter"), *record);
        if (!problem.empty()) {
            return args.fail(problem);
        }
    }
    std::error_code ignored;
    std::string target = std::filesystem::absolute(*output, ignored).string();
    if (target.empty()) {
        target = *output;
    }

    std::optional<DownloadHost::Credentials> given;
    if (user) {
        given = DownloadHost::Credentials{*user, *password};
    }
    SignalPipe signals;
    ProgressLinePrinter printer(stdout, args.has("progress"));
    TerminalDownloadHost host(given, &printer);
    if (!signals.ok() || !host.ok()) {
        std::fprintf(stderr, "quorvex-cli download: cannot create pipes: %s\n",
                     std::strerror(errno));
        return kExitFailed;
    }
    DownloadStarter starter(host, httpOptions);

    std::unique_ptr<DownloadWorker> worker = starter.Start(*record, target);
    bool interrupted = false;
    if (worker) {
        interrupted = WaitForEnd(host, signals, *worker);
        worker.reset();  // joins the worker thread
    }
    printer.printFinal(*record);

    // A download that never started has no outcome: it failed.
    std::optional<DownloadOutcome> outcome = host.outcome();
    // Stopping a live recording is its normal end: the file is complete.
    if (interrupted && !(outcome && outcome->completed())) {
        return kExitInterrupted;
    }
    return outcome && outcome->completed() ? kExitDone : kExitFailed;
}

#include <algorithm>
#include <cstdio>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "cli/CliArgs.h"
#include "cli/CliCommands.h"
#include "cli/DroppedStreams.h"
#include "cli/OutputFormat.h"
#include "cli/StreamPrinter.h"
#include "core/capture/CaptureFileReadAhead.h"
#include "core/capture/CaptureFileReader.h"
#include "core/capture/PcapngSecrets.h"
#include "core/detect/StreamDecoder.h"
#include "core/detect/SuffixListFile.h"
#include "core/session/MonitorSession.h"
#include "core/session/SharedFileDecoding.h"
#include "core/tls/KeyLog.h"
#include "core/tls/KeyLogFile.h"

namespace {

constexpr const char* kUsage =
    "usage: quorvex-cli detect --pcap FILE [--port N]... [--suffix-file FILE] [--all] [--json]\n"
    "                         [--as curl|ffmpeg|yt-dlp] [--cookie-reuse] [--max-streams N]\n"
    "                         [--keylog FILE] [--tls-port N]...\n"
    "\n"
    "Reads a capture file (pcap or pcapng) and prints the media streams requested in it,\n"
    "one line per stream in the order first seen.\n"
    "\n"
    "  --pcap FILE         the capture file, or - for standard input (tcpdump -w - | ...);\n"
    "                      link types Ethernet (also 802.1Q/802.1ad tagged), Linux cooked v1\n"
    "                      and v2, raw IPv4 and IPv6, BSD loopback\n"
    "  --port N            also watch TCP port N (repeatable); 80, 1755 and 554 always\n"
    "  --keylog FILE       the TLS secrets a browser wrote (SSLKEYLOGFILE): HTTPS requests\n"
    "                      on the TLS ports are read with them; kept in memory only\n"
    "  --tls-port N        also read port N as TLS over TCP and QUIC over UDP\n"
    "                      (repeatable); 443 always\n"
    "  --suffix-file FILE  the suffix list to use (created with the defaults if missing);\n"
    "                      default: sufix.txt beside the program if it exists, otherwise\n"
    "                      $XDG_CONFIG_HOME/quorvex/sufix.txt\n"
    "  --all               print every detection, repeats included, in packet order\n"
    "  --json              one JSON object per line: scheme, host, path, query, url, suffix,\n"
    "                      typeName, referer, userAgent, srcAddr, dstAddr, srcPort, dstPort;\n"
    "                      https rows also httpVersion (\"1.1\", \"2\", \"3\") and sni\n"
    "  --as TOOL           print each stream as a curl, ffmpeg or yt-dlp command, quoted\n"
    "                      for a POSIX shell, with the request's Referer and User-Agent\n"
    "  --cookie-reuse      keep each request's Cookie and put it into --as curl commands\n"
    "                      (off: on a shared network it is someone else's session); never\n"
    "                      printed otherwise\n"
    "  --max-streams N     list at most N streams (default 1000000); further new streams\n"
    "                      are counted on stderr, not printed\n"
    "\n"
    "Text lines are the URL (with its query), the suffix and the type name, separated by\n"
    "tabs. Without --all a stream is printed with the query it was first seen with.\n"
    "Exit status: 0 when the file was read to its end, 2 on a bad argument or unreadable input.\n";

// Packets per batch read ahead: large enough that handing a batch over costs little per
// packet, small enough that the batches in flight stay in the caches.
constexpr std::size_t kReadAheadBatch = 64;

}  // namespace

int runDetect(int argc, char** argv) {
    CliArgs args("detect", argc, argv,
                 {"pcap", "suffix-file", "port", "max-streams", "as", "keylog", "tls-port"},
                 {"all", "json", "cookie-reuse"});
    if (args.wantsHelp()) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    std::optional<std::uint64_t> maxStreams = args.number("max-streams", 1, kMaxStreamsLimit);
    std::optional<WatchedPorts> watched = args.watchedPorts();
    std::optional<TlsPorts> tlsPorts = args.ok() ? args.tlsPorts() : std::nullopt;
    if (!args.ok()) {
        return args.fail(args.error());
    }
    std::string formatError;
    std::optional<StreamPrinter::Format> format = OutputFormat::choose(args, formatError);
    if (!format) {
        return args.fail(formatError);
    }
    const WatchedPorts ports = *watched;
    std::optional<std::string> pcapPath = args.value("pcap");
    if (!pcapPath) {
        return args.fail("--pcap FILE is required (see --help)");
    }
    const std::string inputName = *pcapPath == "-" ? "standard input" : *pcapPath;
    std::optional<std::string> suffixPath = args.value("suffix-file");
    SuffixListFile::Result suffixes = SuffixListFile::load(
        suffixPath ? std::filesystem::path(*suffixPath) : SuffixListFile::defaultPath());
    if (!suffixes.ok) {
        return args.fail("cannot read the suffix list " + suffixes.error);
    }
    auto keys = std::make_shared<KeyLog>();
    if (std::optional<std::string> keyLogPath = args.value("keylog")) {
        const KeyLogFile::Result read = KeyLogFile::readWhole(*keyLogPath, *keys);
        if (read.status != KeyLogFile::Status::Read) {
            return args.fail(
                "cannot read the key log " + *keyLogPath + ": " +
                (read.status == KeyLogFile::Status::Missing ? "no such file" : read.detail));
        }
    }
    if (*pcapPath != "-") {
        // A pcapng file may carry its connections' secrets itself. Damage or a read error is
        // for the packet reader to report.
        PcapngSecrets::read(*pcapPath, *keys);
    }
    CaptureFileReader reader;
    if (!reader.open(*pcapPath)) {
        // libpcap names the file itself in some of its messages.
        const std::string& error = reader.error();
        return args.fail(error.starts_with(*pcapPath + ":") ? error : inputName + ": " + error);
    }
    MonitorSession session{SessionCallbacks{}};
    session.setSuffixTable(suffixes.table);
    session.setWatchedPorts(ports);
    session.setTlsPorts(*tlsPorts);
    session.setKeyLog(keys);
    // TLS connections are read in file order on the reading thread; frames the decoder would
    // reject at once are not even copied.
    reader.setFilter([&ports, &session](const std::uint8_t* datagram, std::uint32_t length) {
        return !session.readSecure(datagram, length, 0) &&
               StreamDecoder::worthDecoding(datagram, length, ports);
    });
    session.setCookieReuse(args.has("cookie-reuse"));
    if (maxStreams) {
        session.setRowLimit(static_cast<int>(*maxStreams));
    }
    const bool all = args.has("all");
    StreamPrinter printer(*format, stdout, true);

    std::vector<MonitorSession::Detection> detections;
    std::vector<MonitorSession::Detection> secureDetections;
    auto printSecure = [&] {
        secureDetections.clear();
        session.addSecureFound(secureDetections);
        for (const MonitorSession::Detection& detection : secureDetections) {
            if ((detection.added || all) && !printer.print(detection.packed->fields())) {
                return false;
            }
        }
        return true;
    };
    auto print = [&] {
        for (const MonitorSession::Detection& detection : detections) {
            if ((detection.added || all) && !printer.print(detection.packed->fields())) {
                return false;
            }
        }
        return true;
    };
    // The same, with the lines made ahead where there are.
    auto printMadeAhead = [&](SharedFileDecoding& decoding,
                              const CaptureFileReadAhead::Batch& batch) {
        std::size_t added = 0;
        for (std::size_t i = 0; i < detections.size(); ++i) {
            const MonitorSession::Detection& detection = detections[i];
            added += detection.added ? 1 : 0;
            if (!detection.added && !all) {
                continue;
            }
            const std::string_view made = decoding.madeLine(batch, i);
            if (!(made.empty() ? printer.print(detection.packed->fields())
                               : printer.printMade(made))) {
                return false;
            }
        }
        decoding.noteAdded(added, detections.size());
        return true;
    };
    auto readError = [&](const std::string& error) {
        printer.flush();
        return args.fail(inputName + ": " + error);
    };
    if (*pcapPath != "-") {
        // A file is read on a second thread ahead of the list and the output. Not standard
        // input: a read from a pipe may wait for ever, and so would the end of the reading
        // thread.
        SharedFileDecoding decoding(session, kReadAheadBatch);
        // A JSON line is written straight from the packed detection this thread has at hand
        // anyway; the other forms need the full record, which is made on the reading thread.
        if (*format != StreamPrinter::Format::Json) {
            decoding.setLineMaker(
                [format = *format](const StreamFields& stream, std::string& out) {
                    StreamPrinter::appendLine(out, stream, format);
                },
                all);
        }
        CaptureFileReadAhead ahead(reader, kReadAheadBatch, decoding.preparation());
        for (bool more = true; more;) {
            const CaptureFileReadAhead::Batch& batch = ahead.next();
            session.addDecoded(decoding.decodeRest(batch, ahead.readyAtLastTake()), detections);
            if (!printMadeAhead(decoding, batch) || !printSecure()) {
                return args.fail("cannot write the output");
            }
            if (batch.status == CaptureFileReader::Status::Error) {
                return readError(batch.error.empty() ? "cannot read" : batch.error);
            }
            more = batch.status == CaptureFileReader::Status::Packet;
        }
    } else {
        std::vector<CapturedPacket> packets(MonitorSession::kFeedBatch);
        for (bool more = true; more;) {
            std::size_t read = 0;
            const auto status = reader.nextBatch(packets, read);
            more = status == CaptureFileReader::Status::Packet;
            session.feed(std::span(packets.data(), read), detections);
            if (!print() || !printSecure()) {
                return args.fail("cannot write the output");
            }
            if (status == CaptureFileReader::Status::Error) {
                return readError(reader.error());
            }
        }
    }
    session.finishSecure();
    if (!printSecure() || !printer.flush()) {
        return args.fail("cannot write the output");
    }
    printDroppedStreams("detect", session);
    printUnreadConnections("detect", session.secureSummary());
    return 0;
}

#include <cstdio>
#include <optional>
#include <string>

#include "cli/CliArgs.h"
#include "cli/CliCommands.h"
#include "cli/DetectInput.h"
#include "cli/DetectOptions.h"
#include "cli/DetectRun.h"

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

}  // namespace

int runDetect(int argc, char** argv) {
    CliArgs args("detect", argc, argv,
                 {"pcap", "suffix-file", "port", "max-streams", "as", "keylog", "tls-port"},
                 {"all", "json", "cookie-reuse"});
    if (args.wantsHelp()) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    std::string error;
    std::optional<DetectOptions> options = DetectOptions::read(args, error);
    if (!options) {
        return args.fail(error);
    }
    DetectInput input;
    if (!input.open(*options, error)) {
        return args.fail(error);
    }
    return DetectRun(args, *options, input).run();
}

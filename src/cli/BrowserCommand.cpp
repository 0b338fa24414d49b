#include <poll.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "cli/CliArgs.h"
#include "cli/CliCommands.h"
#include "cli/SignalPipe.h"
#include "core/download/ShellQuote.h"
#include "core/session/KeyLogBrowser.h"

namespace {

constexpr int kExitDone = 0;
constexpr int kExitFailed = 1;
constexpr int kExitBadArguments = 2;
// Without a descriptor for the browser's end, how often to ask whether it still runs.
constexpr int kRecheckMilliseconds = 500;

constexpr char kHelp[] =
    "usage: quorvex-cli browser [--keylog FILE] [URL]\n"
    "\n"
    "Starts a browser that writes its TLS secrets to a key log, so that monitor can read\n"
    "its HTTPS: the desktop's default browser when it is Chromium or Firefox, else the\n"
    "first installed of chromium, chromium-browser, google-chrome, firefox-esr, firefox.\n"
    "It runs as a new browser with a fresh profile of its own (a window of a browser that\n"
    "already runs would not write the keys). Prints the key log's path and the monitor\n"
    "command that reads it, waits until the browser is closed, then removes the private\n"
    "key log and the profile. Ctrl-C stops waiting: the browser keeps running, the private\n"
    "key log and profile are removed (a key log named with --keylog is always kept).\n"
    "  --keylog FILE  the key log to write: created 0600 when missing, an existing file is\n"
    "                 added to, never emptied (default: keys.log in a private folder under\n"
    "                 $XDG_RUNTIME_DIR, or /tmp)\n"
    "  URL            the page to open first\n"
    "Exit status: 0 done, 1 no browser or it could not start, 2 bad arguments.\n";

std::string failureText(const KeyLogBrowser::Outcome& outcome) {
    using Failure = KeyLogBrowser::Failure;
    switch (outcome.failure) {
        case Failure::kNoBrowser:
            return "no Chromium or Firefox is installed (looked for chromium, chromium-browser, "
                   "google-chrome, firefox-esr, firefox on PATH)";
        case Failure::kBadUrl:
            return "'" + outcome.detail + "' is no URL (it would be read as an option)";
        case Failure::kFolder:
            return "cannot make a private folder: " + outcome.detail;
        case Failure::kKeyLog:
            return "cannot write the key log " + outcome.detail;
        case Failure::kStart:
            return "cannot start the browser " + outcome.detail;
        case Failure::kAlreadyStarted:
        case Failure::kNone:
            break;
    }
    return "cannot start the browser";
}

// Waits for the browser's end or a signal; true when a signal came first.
bool waitForBrowserOrSignal(KeyLogBrowser& browser, SignalPipe& signals) {
    while (browser.running()) {
        pollfd fds[2] = {{signals.fd(), POLLIN, 0}, {browser.exitFd(), POLLIN, 0}};
        int timeout = browser.exitFd() >= 0 ? -1 : kRecheckMilliseconds;
        if (::poll(fds, 2, timeout) < 0 && errno != EINTR) {
            return false;
        }
        if (signals.drain()) {
            return true;
        }
    }
    return false;
}

}  // namespace

int runBrowser(int argc, char** argv) {
    CliArgs args("browser", argc, argv, {"keylog"}, {}, 1);
    if (args.wantsHelp()) {
        std::fputs(kHelp, stdout);
        return kExitDone;
    }
    if (!args.ok()) {
        return args.fail(args.error());
    }
    std::string keyLog = args.value("keylog").value_or("");
    if (args.has("keylog") && keyLog.empty()) {
        return args.fail("--keylog needs a file name");
    }
    std::string url = args.positional().empty() ? std::string() : args.positional().front();

    // Before the browser starts, so that an early Ctrl-C still removes what was made.
    SignalPipe signals;
    if (!signals.ok()) {
        return args.fail("cannot create a pipe");
    }
    KeyLogBrowser browser;
    KeyLogBrowser::Outcome outcome = browser.start(keyLog, url);
    if (!outcome.ok()) {
        args.fail(failureText(outcome));
        return outcome.failure == KeyLogBrowser::Failure::kBadUrl ? kExitBadArguments : kExitFailed;
    }
    std::printf("key log: %s\n", browser.keyLogPath().c_str());
    std::printf("read HTTPS with: quorvex-cli monitor --keylog %s\n",
                ShellQuote::word(browser.keyLogPath()).c_str());
    std::fflush(stdout);
    if (waitForBrowserOrSignal(browser, signals)) {
        std::fprintf(stderr, "quorvex-cli browser: stopped waiting; %s keeps running\n",
                     browser.browser().path.c_str());
    }
    browser.cleanUp();
    return kExitDone;
}

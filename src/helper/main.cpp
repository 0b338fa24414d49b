// quorvex-capture: the one program that holds capture rights. It opens the capture it is
// asked for, gives up every right at once, and streams what it captures to its parent on
// standard output until its standard input ends (the parent's way to stop it).

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <optional>
#include <string>

#include "core/capture/CPacketCapture.h"
#include "helper/HelperArguments.h"
#include "helper/PipeOutput.h"
#include "helper/PrivilegeDrop.h"

namespace {

// How often the parent hears the counts of the running capture: often enough for a status
// line, rarely enough to cost nothing.
constexpr int kStatisticsIntervalMs = 500;

// Sends the counts taken since the last call, if they changed, and asks for fresh ones.
bool sendStatistics(CPacketCapture& capture, PipeOutput& output, CPacketCapture::Statistics& sent) {
    const CPacketCapture::Statistics counts = capture.LastStatistics();
    if (counts != sent) {
        if (!output.WriteStatistics(counts)) {
            return false;
        }
        sent = counts;
    }
    capture.RequestStatistics();
    return true;
}

// Until the parent closes our input (or goes away), the capture ends by itself, or the
// output fails. Meanwhile the parent hears the capture's counts now and then.
void waitForTheEnd(int wakeFd, CPacketCapture& capture, PipeOutput& output) {
    pollfd watched[2] = {{STDIN_FILENO, POLLIN, 0}, {wakeFd, POLLIN, 0}};
    char buffer[256];
    CPacketCapture::Statistics sent;
    while (true) {
        const int ready = ::poll(watched, 2, kStatisticsIntervalMs);
        if (ready < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        if (ready == 0) {
            if (!sendStatistics(capture, output, sent)) {
                return;
            }
            continue;
        }
        if (watched[1].revents != 0) {
            return;
        }
        if (watched[0].revents != 0) {
            // The parent sends nothing; end of input, or an error, is the stop.
            ssize_t got = ::read(STDIN_FILENO, buffer, sizeof buffer);
            if (got <= 0 && !(got < 0 && errno == EINTR)) {
                return;
            }
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    // A parent that stops reading makes writes fail instead of killing us mid-message.
    std::signal(SIGPIPE, SIG_IGN);
    std::string error;
    std::optional<HelperArguments> arguments = HelperArguments::parse(argc, argv, error);
    if (!arguments) {
        std::fprintf(stderr, "quorvex-capture: %s\n", error.c_str());
        return 2;
    }
    int wake[2];
    if (::pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0) {
        std::perror("quorvex-capture: pipe");
        return 1;
    }
    PipeOutput output(STDOUT_FILENO, wake[1]);
    CPacketCapture capture(output);
    capture.SetPorts(arguments->ports, arguments->tlsPorts);
    // The open handle is all we need: the filter is compiled and every packet read without
    // any right left. This is the only thread yet, so the whole process gives them up.
    capture.SetOpenedHook(&PrivilegeDrop::dropAll);
    if (!capture.OpenHere(arguments->promiscuous ? 1 : 0, arguments->adapter)) {
        return 1;  // the failure went to the parent as a status message
    }
    capture.StartOpened();
    waitForTheEnd(wake[0], capture, output);
    capture.Stop();
    output.WriteStatistics(capture.LastStatistics());
    return output.Failed() ? 1 : 0;
}

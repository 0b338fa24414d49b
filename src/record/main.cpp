// quorvex-record: records one playlist or RTSP session for its parent, confined. The request
// comes on standard input, the recording goes to descriptor 3 (opened by the parent beside the
// target), and progress and the ending go back on standard output (RecordPipeFormat). Media
// from the network is parsed here, where a crash or a hang costs one recording, not the
// program that started it.

#include <signal.h>
#include <unistd.h>

#include <climits>

extern "C" {
#include <libavformat/avformat.h>
}

#include <cerrno>
#include <string>

#include "core/download/record/RecordEnding.h"
#include "core/download/record/RecordRequest.h"
#include "record/InputGate.h"
#include "record/LibraryMessages.h"
#include "record/MediaRecorder.h"
#include "record/ParentLink.h"
#include "record/RecorderSandbox.h"

namespace {

constexpr int kOutputFd = 3;

}  // namespace

#if defined(__SANITIZE_ADDRESS__)
// The leak check at exit needs a tracing process, which the system-call filter forbids.
extern "C" int __lsan_is_turned_off() {
    return 1;
}
#endif

int main() {
    // A parent that stops reading makes writes fail instead of killing us mid-message.
    ::signal(SIGPIPE, SIG_IGN);
    // Nothing but our pipes, standard error and the output: whatever the parent leaked.
    ::close_range(kOutputFd + 1, UINT_MAX, 0);
    ParentLink parent(STDIN_FILENO, STDOUT_FILENO);
    RecordRequest request;
    if (!parent.ReadRequest(request)) {
        return 2;
    }
    std::string failure;
    if (!RecorderSandbox::Enter(failure)) {
        parent.End({RecordEnding::Outcome::kFailed, RecordEnding::Cause::kSetupFailed, EPERM,
                    "cannot confine the recorder (" + failure + ")"});
        return 1;
    }
    LibraryMessages::install();
    avformat_network_init();
    InputGate::Settings settings;
    settings.userAgent = request.userAgent;
    settings.referer = request.referer;
    settings.caFile = request.caFile;
    settings.proxy = request.proxy;
    settings.stallMicros = std::int64_t{request.stallSeconds} * 1000000;
    InputGate::configure(settings);
    RecordEnding ending;
    {
        MediaRecorder recorder(request, kOutputFd, parent);
        ending = recorder.Run();
    }
    parent.End(ending);
    avformat_network_deinit();
    return 0;
}

#pragma once

#include <string>

#include "core/download/DownloadOutcome.h"

struct DetectedStream;
struct TransferProgress;

// What a download worker needs from the program that runs it: the desktop program shows
// modal dialogs, the command line prints and reads the terminal. Called on the worker thread;
// showMessage also on the owner's thread when a download cannot be started.
class DownloadHost {
  public:
    struct LoginRequest {
        long status;        // 401 (server) or 407 (proxy)
        std::string url;    // what is being fetched
        std::string realm;  // from the challenge, may be empty
    };
    struct Credentials {
        std::string user;
        std::string password;
    };

    virtual ~DownloadHost() = default;

    // Shows a failure text (Japanese, ending in its code); returns once the user has seen it.
    virtual void showMessage(const std::string& text) = 0;

    // A failure text with what the system said about it (libcurl's error buffer, strerror,
    // the server's reply) and the kind of failure it is; hosts that show no detail show the
    // text alone.
    virtual void showFailure(const std::string& text, const std::string& /*detail*/,
                             FailureCause /*cause*/) {
        showMessage(text);
    }

    // Asks for a login; false when the user dismisses the prompt or none can be asked.
    virtual bool askLogin(const LoginRequest& request, Credentials& out) = 0;

    // What the download's row shows changed: `progress` is the worker's own value, and the
    // record's state is already written. On the worker's thread, or on the owner's while the
    // download starts, waits or is given up.
    virtual void showTransfer(const DetectedStream& /*record*/,
                              const TransferProgress& /*progress*/) {}

    // Called exactly once per download, after record->state holds its final value, with how it
    // ended; always on the worker's thread (a worker that could not start reports no end).
    // The owner may destroy the worker from here on (not from inside this call).
    virtual void downloadEnded(DetectedStream* record, const DownloadOutcome& outcome) = 0;

    // The worker stopped at the owner's wish with its part kept, after record->state holds
    // kStatePaused; on the worker's thread. The download is not over: Resume() or the
    // worker's end follows.
    virtual void downloadPaused(DetectedStream* /*record*/) {}
};

#pragma once

#include <functional>
#include <string>

#include "core/capture/CaptureStatus.h"
#include "core/download/DownloadHost.h"
#include "core/download/DownloadOutcome.h"

// How a MonitorSession reports to its front end. Every callback runs on an engine thread (the
// capture thread or a download's worker), never with a session lock held; each may be empty.
// The first four must return quickly: hand the news to your own thread and take the details
// from the session there. The last two are the only ones that wait for the user.
struct SessionCallbacks {
    // Rows were added or refreshed since the last takeChanges(); called once per batch.
    std::function<void()> rowsChanged;

    // The capture opened (kRunning), could not be opened (kFailed) or ended by itself (kLost).
    // `run` is the captureRun() of the capture that reports, so a late report of a capture
    // stopped since can be told apart.
    std::function<void(const CaptureStatus& status, int run)> captureStatus;

    // A download ended, after its row's last refresh. `row` is -1 when its row went with a
    // reset. Call reapEndedDownloads() from the owner's thread afterwards: it also starts the
    // downloads waiting for the place this one held.
    std::function<void(int row, const DownloadOutcome& outcome)> downloadEnded;

    // A download paused at the user's wish, after its row's refresh; its place is free. Call
    // reapEndedDownloads() from the owner's thread afterwards, as after an end.
    std::function<void(int row)> downloadPaused;

    // A download's failure text (Japanese, ending in its code); returns once the user saw it.
    std::function<void(const std::string& text)> showMessage;

    // The same failure with the URL it concerns, what the system said (may be empty) and the
    // kind of failure, which the front end explains; when set, used instead of showMessage.
    std::function<void(const std::string& text, const std::string& url, const std::string& detail,
                       FailureCause cause)>
        showFailure;

    // A download needs a login; false when the user declines or none can be asked.
    std::function<bool(const DownloadHost::LoginRequest& request, DownloadHost::Credentials& out)>
        askLogin;
};

#pragma once

// Common face of the download workers (HTTP, MMS, recording), as seen from the session that
// runs them: what the user may ask of a running download.
class DownloadWorker {
  public:
    virtual ~DownloadWorker() = default;

    // Asks the worker to stop; returns at once. The end is reported through DownloadHost.
    virtual void Cancel() = 0;

    // Whether Pause() can stop this download with its part kept (an HTTP transfer that has
    // not been handed to a recording). Any thread.
    virtual bool CanPause() const { return false; }
    // Asks the worker to stop with its part kept; returns at once. It reports through
    // DownloadHost::downloadPaused, or ends as usual when it was done before it saw the wish.
    virtual void Pause() {}
    // Goes on with a paused download, on the owner's thread once downloadPaused was heard; its
    // pause or end is reported as before. False when it is not paused.
    virtual bool Resume() { return false; }
};

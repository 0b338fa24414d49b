#pragma once

// Common face of the HTTP and MMS download workers, as seen from the list's abort command.
class DownloadWorker {
  public:
    virtual ~DownloadWorker() = default;

    // Asks the worker to stop; returns at once. The end is reported through DownloadHost.
    virtual void Cancel() = 0;
};

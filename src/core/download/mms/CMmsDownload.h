#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "core/download/DownloadOutcome.h"
#include "core/download/DownloadReporter.h"
#include "core/download/DownloadWorker.h"
#include "core/download/StartResult.h"
#include "core/download/common/TickSource.h"
#include "core/file/AsideFile.h"

class DownloadHost;
struct DetectedStream;
struct MmsServerAddress;

// Downloads one detected MMS stream into a local ASF file on a worker thread of its own,
// showing its progress on the stream's row through the host. Outcomes reach the
// user through DownloadHost: failure texts, and the end of every started download exactly
// once with its DownloadOutcome (completed at the server's end of stream; cancelled with the
// partial file kept; failed with the MMS error in the detail). The file is written aside (see
// AsideFile) and takes the target's name at the end or at a cancel; a failure leaves the
// target as it was.
class CMmsDownload : public DownloadWorker {
  public:
    explicit CMmsDownload(DownloadHost& host, TickSource ticks = SteadyTickCount);
    // Asks a running download to stop and waits for its thread.
    ~CMmsDownload() override;

    CMmsDownload(const CMmsDownload&) = delete;
    CMmsDownload& operator=(const CMmsDownload&) = delete;

    // Starts the download of `record` (the list's own record, which must outlive the worker)
    // from the server named by its `host`, asking for `path`, into the file at the full path
    // `localFile`. The caller has set `state` 1 and shown the row connecting. The server's
    // name and the client identifier are taken from the record now. kStarted when the
    // worker thread runs: the download then ends exactly once, reported from that thread.
    // Otherwise no end is reported: kRefused for a second call, kNoResources for no thread
    // (the user has been told).
    StartResult Start(DetectedStream* record, const std::string& path,
                      const std::string& localFile);

    // Before Start: whether the file replaces one that has its name by the end (the default),
    // or that file wins and the download fails (a name picked as free on the user's behalf).
    void SetReplaceTarget(bool replace) { replaceTarget_ = replace; }

    // Returns at once; the download ends promptly as a cancel (state 2, "Cancel", file kept).
    void Cancel() override;

    // The last failure text shown; empty when none. Safe from any thread.
    std::string ErrorText() const;

  private:
    void Run();
    bool OpenFile();
    bool Connect(const MmsServerAddress& address);
    void Transfer(const MmsServerAddress& address);
    void EndTransfer();
    int KeepFile(bool cancelled);
    void ReportError(const char* messageTemplate, int code, std::string detail, FailureCause cause);
    void PublishSocket(int fd);
    void CloseSocket();

    DownloadReporter reporter_;
    TickSource ticks_;
    mutable std::mutex mutex_;  // guards socket_ (shut down by Cancel)
    std::string serverName_;    // the record's host, as the stream was seen
    std::string clientId_;
    std::string path_;
    std::string localFile_;
    AsideFile file_;  // used by the worker only
    int socket_ = -1;
    bool replaceTarget_ = true;
    std::atomic<bool> cancel_{false};
    std::thread thread_;
};

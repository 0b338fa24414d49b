#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <thread>

#include "core/download/DownloadOutcome.h"
#include "core/download/DownloadReporter.h"
#include "core/download/common/RequestContext.h"
#include "core/download/http/HttpDownloadOptions.h"
#include "core/download/record/RecordEnding.h"
#include "core/download/record/RecordKind.h"
#include "core/download/record/RecordProgress.h"
#include "core/download/record/RecordWorker.h"
#include "core/file/AsideFile.h"

struct DetectedStream;
class DownloadHost;
class RecorderProcess;

// Records one HLS playlist, DASH manifest or RTSP session into one file, on a worker thread of
// its own that runs the recorder program (quorvex-record, see RecorderPath) and follows it.
// The playlist is read here first (PlaylistProbe): one that is no playlist, is protected or
// is too large is refused with a message of its own, and its end decides how a stop ends.
// The media themselves are parsed only in the recorder, confined, which remuxes the best
// variant without re-encoding into the container the target's suffix names and reports its
// progress and ending over a pipe. The file is written aside here and takes the target's name
// when the recorder says it is whole. A recording with an end that is cancelled or fails
// leaves the target untouched; a live one (a playlist without an end, or RTSP) that is
// stopped ends normally: its file is finalized and the row shows "完了". A live stream that
// sends nothing for the stall time, or whose server goes away, ends the same way and tells the
// user why. A recorder that crashes, says something malformed or goes silent for longer than
// the stall time allows is killed and the recording fails; nothing else is touched. Every
// started recording ends exactly once through the host, as the other downloads do.
class CRecordDownload : public RecordWorker {
  public:
    CRecordDownload(DownloadHost& host, RecordKind kind, HttpDownloadOptions options = {});
    // With the recorder program at `recorderPath` instead of the one RecorderPath finds.
    CRecordDownload(DownloadHost& host, RecordKind kind, HttpDownloadOptions options,
                    std::string recorderPath);
    // Stops a running recording and waits for its thread (and so for its recorder).
    ~CRecordDownload() override;

    CRecordDownload(const CRecordDownload&) = delete;
    CRecordDownload& operator=(const CRecordDownload&) = delete;

    // Creates the file aside of the target and starts the worker thread. kStarted when
    // started; otherwise the reason, after telling the user why unless kRefused. Called once,
    // on the owner's thread.
    StartResult Start(DetectedStream* record, const std::string& url,
                      const std::string& targetPath) override;

    // Asks the recording to stop; returns at once. Safe from any thread once Start returned.
    void Cancel() override;

    // The most memory a recorder of this recording held, in KiB; 0 before one has ended.
    long RecorderPeakKilobytes() const { return peakKilobytes_.load(); }

  private:
    enum class Watch { kEnded, kCrashed, kHung, kMalformed, kStopped };

    void Run();
    bool Probe();
    bool Record(const std::string& url, RecordEnding& ending);
    Watch Follow(RecorderProcess& recorder, RecordEnding& ending);
    void TakeProgress(std::uint64_t written, std::int64_t recordedMicros,
                      std::int64_t durationMicros);
    bool AskLogin(std::string& url);
    void Conclude(const RecordEnding& ending);

    void EndRecorded(const char* messageTemplate, long code, std::string detail);
    void EndCancelled();
    void Fail(const char* messageTemplate, long code, std::string detail, FailureCause cause);

    DownloadReporter reporter_;
    RecordKind kind_;
    HttpDownloadOptions options_;
    std::string recorderPath_;
    std::string url_;
    std::string target_;
    AsideFile file_;
    std::atomic<bool> cancel_{false};
    int wakeRead_ = -1;  // Cancel writes to wakeWrite_ so that the worker's wait ends
    int wakeWrite_ = -1;
    std::thread thread_;
    std::atomic<long> peakKilobytes_{0};

    // Worker-thread state.
    bool live_ = false;
    RequestContext context_;
    std::uint64_t written_ = 0;
    std::optional<RecordProgress> meter_;
};

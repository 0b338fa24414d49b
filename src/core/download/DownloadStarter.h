#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "core/download/TransferProgress.h"
#include "core/download/http/HttpDownloadOptions.h"
#include "core/download/record/RecordKind.h"

struct DetectedStream;
class DownloadHost;
class DownloadWorker;

// The list's save command without its dialogs: prepares a record for a download and starts the
// worker that fits its scheme. Used by the engine's session and by the command line alike;
// runs on the caller's (user-interface) thread. The row is shown through the host.
class DownloadStarter {
  public:
    explicit DownloadStarter(DownloadHost& host, HttpDownloadOptions httpOptions = {});

    // Downloads the record's URL (host, path and query) into `targetPath`, the full path
    // chosen by the user. Returns the started worker; the caller owns it, to be destroyed
    // after the host's downloadEnded for this record. Returns nullptr when nothing was started: a
    // scheme that is not downloaded leaves the record untouched; a path too long for
    // record.localFile is refused before anything changes; a worker that fails to start has told
    // the user why and the record is back in state 0.
    std::unique_ptr<DownloadWorker> Start(DetectedStream& record, const std::string& targetPath);

    // Marks the record as waiting for its turn to be downloaded into `targetPath`: state,
    // word and target, with its row shown waiting. False with the record untouched for a
    // scheme that is not downloaded, or for a path too long (the user has been told).
    bool Queue(DetectedStream& record, const std::string& targetPath);
    // Whether Start has a worker for the record's scheme.
    static bool Downloadable(const DetectedStream& record);

    static bool IsHttpScheme(std::string_view scheme);
    // Every scheme word that begins with "mms" ("mms", "mmst", "mmsu").
    static bool IsMmsScheme(std::string_view scheme);
    static std::string UrlOf(const DetectedStream& record);
    // The URL with its scheme, as a recording opens it.
    static std::string FullUrlOf(const DetectedStream& record);
    // Whether the record is recorded (an HLS playlist, a DASH manifest, an RTSP session) rather
    // than downloaded byte for byte; by its scheme and the suffix of its path.
    static RecordKind RecordKindOf(const DetectedStream& record);

  private:
    std::unique_ptr<DownloadWorker> StartMms(DetectedStream& record, const std::string& targetPath);
    std::unique_ptr<DownloadWorker> StartRecord(DetectedStream& record,
                                                const std::string& targetPath, RecordKind kind);
    std::unique_ptr<DownloadWorker> StartHttp(DetectedStream& record,
                                              const std::string& targetPath);

    // Marks the record as downloading before the worker's thread starts, so that the worker
    // sees every field set.
    void Prepare(DetectedStream& record, std::string_view localFile);
    // A worker that did not start leaves no row waiting for ever.
    void Unprepare(DetectedStream& record);
    // The row shows the record's state with nothing but `stage` in its progress column.
    void Show(const DetectedStream& record, TransferProgress::Stage stage);
    bool RefuseLongPath(const DetectedStream& record, std::string_view localFile);

    DownloadHost& host_;
    HttpDownloadOptions httpOptions_;
};

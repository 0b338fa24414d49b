#pragma once

#include <curl/curl.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "core/download/DownloadOutcome.h"
#include "core/download/DownloadReporter.h"
#include "core/download/DownloadWorker.h"
#include "core/download/StartResult.h"
#include "core/download/common/ProgressState.h"
#include "core/download/common/RequestContext.h"
#include "core/download/http/HttpDownloadOptions.h"
#include "core/download/http/HttpResponseHeaders.h"
#include "core/download/record/RecordKind.h"
#include "core/file/AsideFile.h"

struct DetectedStream;
class DownloadHost;
class RecordWorker;

// Downloads one HTTP or HTTPS stream into a file on a worker thread of its own, showing its
// progress on the stream's row through the host. Failures are shown through the host; the end of
// every started download is reported to the host exactly once, after record->state holds its final
// value (0 failed or cancelled before the transfer, 2 the transfer ended: "完了" or "Cancel"), with
// its DownloadOutcome: the libcurl code or errno or HTTP status of the message, and libcurl's error
// text, strerror or the server's status line as detail. A body that ends short of the length its
// response announced fails as libcurl's code 18, one that runs past it as code 8, and nothing past
// that length is written: such a file is never complete. A response whose Content-Type is an HLS
// playlist or a DASH manifest is handed to a recording (CRecordDownload), which then ends the
// download. A pause stops the transfer with the part kept aside; a resume goes on from it
// the way a later try does (a Range request with If-Range where the server gave a strong
// validator, else from the start).
class CHttpDownload : public DownloadWorker {
  public:
    explicit CHttpDownload(DownloadHost& host, HttpDownloadOptions options = {});
    // Asks a running download to stop and waits for its thread; the host then hears of the
    // end from within this wait. Never call it from inside a host callback of this download.
    ~CHttpDownload() override;

    CHttpDownload(const CHttpDownload&) = delete;
    CHttpDownload& operator=(const CHttpDownload&) = delete;

    // Checks the URL (only http and https), creates the file that is written aside of the
    // target (see AsideFile) and starts the worker thread. kStarted when started; otherwise
    // the reason, after telling the user why unless kRefused (no file is left behind and
    // nothing is reported as ended). Called once, on the owner's thread. The target itself
    // changes only when the download completes. The request carries the record's Referer,
    // User-Agent and cookie as the options allow; a value with control bytes is refused
    // (kBadRequest, told to the user) rather than sent.
    StartResult Start(DetectedStream* record, const std::string& url,
                      const std::string& targetPath);

    // Sets the cancel flag and wakes the worker; returns at once. Safe from any thread once
    // Start has returned.
    void Cancel() override;

    // Pause and resume (see DownloadWorker). A paused download keeps its temporary file open
    // and its connection handle (with a login given) until it is resumed, cancelled and
    // resumed to end, or destroyed, which discards the part.
    bool CanPause() const override;
    void Pause() override;
    bool Resume() override;

    // The text of the last failure shown, empty when none. Safe from any thread.
    std::string ErrorText() const;

  private:
    void ApplyRequestContext(CURL* easy);
    bool SetUpHandle();
    void ReleaseHandle();
    void Run();
    void RunTransfer(CURL* easy);
    void HandOver(CURL* easy);
    void PrepareTry(CURL* easy);
    bool MayRetry(int result, long status) const;
    bool WaitBeforeRetry(long status);
    int PerformOnce(CURL* easy);
    bool BeginTry();
    std::optional<std::uint64_t> ContinuedTotal() const;
    int CheckBodyLength(int result);
    void SetCurlError(const std::string& text);
    bool AskLogin(CURL* easy, long status, bool& askedServer, bool& askedProxy);
    void FailBeforeTransfer(CURL* easy, int curlCode);
    void FailTransfer(CURL* easy, int curlCode);
    void FailStatus(long status);
    FailureCause CurlCause(CURL* easy, int curlCode) const;
    std::string CurlDetail(int curlCode) const;
    std::string StatusDetail(long status) const;

    bool PauseTakesEffect(int result) const;
    void EnterPause();
    void EndTransfer();
    void EndQuietly();
    void Fail(const char* messageTemplate, long code, std::string detail, FailureCause cause);

    static std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* self);
    static std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* self);
    std::size_t HandleHeader(const char* data, std::size_t length);
    std::size_t HandleBody(const char* data, std::size_t length);
    bool WriteBlock(const char* data, std::size_t length);

    DownloadReporter reporter_;
    HttpDownloadOptions options_;
    std::string url_;
    std::string targetPath_;
    std::string urlHost_;  // the host of url_, which a captured cookie is bound to
    RequestContext context_;
    AsideFile file_;          // opened by Start, then the worker's
    CURLM* multi_ = nullptr;  // made by Start; Cancel wakes it from any thread
    std::atomic<bool> cancel_{false};
    std::atomic<bool> pause_{false};   // asked to pause
    std::atomic<bool> paused_{false};  // stopped with its part kept, until Resume
    std::thread thread_;
    CURL* easy_ = nullptr;  // the worker's; kept across a pause
    // The recording a playlist's response was handed to; it outlives this worker's thread.
    std::unique_ptr<RecordWorker> recordingOwned_;
    std::atomic<DownloadWorker*> recording_{nullptr};
    RecordKind handOverKind_ = RecordKind::kNone;

    // Worker-thread state of the current request.
    HttpResponseHeaders response_;
    char curlError_[CURL_ERROR_SIZE] = {};
    curl_slist* headers_ = nullptr;     // the fixed request headers
    curl_slist* tryHeaders_ = nullptr;  // the fixed ones and the If-Range of this try
    int try_ = 1;
    bool tryStarted_ = false;  // this try's response is being written
    bool tryDone_ = false;     // libcurl ended this try itself, not a cancel or pause
    bool overlong_ = false;    // this try's body ran past its announced length
    bool rangeAsked_ = false;
    std::string validator_;  // strong ETag or Last-Modified of the file being written
    std::uint64_t totalLength_ = 0;
    bool totalKnown_ = false;
    bool transferStarted_ = false;
    bool statusRejected_ = false;
    int writeError_ = 0;
    std::uint64_t received_ = 0;
    ProgressState progress_;
};

#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/download/DownloadOutcome.h"
#include "core/download/http/HttpDownloadOptions.h"
#include "core/download/record/RecordKind.h"
#include "core/download/record/RecordWorker.h"
#include "core/file/AsideFile.h"

struct AVFormatContext;
struct AVIOContext;
struct AVPacket;
struct AVRational;
struct DetectedStream;
class DownloadHost;

// Records one HLS playlist, DASH manifest or RTSP session into one file on a worker thread of
// its own: the best variant's video and audio streams, remuxed without re-encoding into the
// container the target's suffix names (".mp4", ".mkv", ".ts", ".mov", ".webm", ".flv"; any
// other name gets Matroska). The file is written aside and takes the target's name at
// the end. A recording with an end that is cancelled or fails leaves the target untouched; a
// live one (a playlist without an end, or RTSP) that is stopped ends normally: its file is
// finalized and the row shows "完了". A live stream that sends nothing for the stall time, or
// whose server goes away, ends the same way and tells the user why. Every started recording
// ends exactly once through the host, as the other downloads do. Lives in the recording
// module (RecordModule), the one part of the engine that links the media libraries.
class CRecordDownload : public RecordWorker {
  public:
    CRecordDownload(DownloadHost& host, RecordKind kind, HttpDownloadOptions options = {});
    // Stops a running recording and waits for its thread.
    ~CRecordDownload() override;

    CRecordDownload(const CRecordDownload&) = delete;
    CRecordDownload& operator=(const CRecordDownload&) = delete;

    // Creates the file aside of the target and starts the worker thread. 0 when started; -1
    // when not, after telling the user why. Called once, on the owner's thread.
    int Start(DetectedStream* record, const std::string& url,
              const std::string& targetPath) override;

    // Asks the recording to stop; returns at once. Safe from any thread once Start returned.
    void Cancel() override;

  private:
    void Run();
    bool Probe();
    bool Open();
    bool OpenInput(const std::string& url);
    bool AskLogin(std::string& url);
    bool ChooseStreams();
    bool OpenOutput();
    bool Copy();
    bool WritePacket(AVPacket* packet);
    bool IsStartOfLive(const AVPacket& packet, AVRational inBase);
    void Close();

    void EndRecorded(const char* messageTemplate, long code, std::string detail);
    void EndCancelled();
    void Fail(const char* messageTemplate, long code, std::string detail);
    void Finish(std::int32_t state, const char* progressWord, const DownloadOutcome& outcome);
    std::string ShowMessage(const char* messageTemplate, long code);
    std::string LibraryDetail(int error) const;

    static int OnInterrupt(void* self);
    static int OnWrite(void* self, std::uint8_t* data, int length);
    static std::int64_t OnSeek(void* self, std::int64_t offset, int whence);
    bool Stalled() const;

    DownloadHost& host_;
    RecordKind kind_;
    HttpDownloadOptions options_;
    DetectedStream* record_ = nullptr;
    std::string url_;
    std::string target_;
    AsideFile file_;
    std::atomic<bool> cancel_{false};
    bool ended_ = false;
    std::thread thread_;

    // Worker-thread state.
    bool live_ = false;
    std::string referer_;
    std::string userAgent_;
    std::atomic<std::uint32_t> lastInputTick_{0};
    bool stalled_ = false;
    AVFormatContext* input_ = nullptr;
    AVFormatContext* output_ = nullptr;
    AVIOContext* sink_ = nullptr;
    int openError_ = 0;                         // the library's code of the last failed open
    int writeError_ = 0;                        // the errno of the first failed write
    std::uint64_t written_ = 0;                 // the file's length
    std::uint64_t position_ = 0;                // where the next write goes
    std::vector<int> outputIndex_;              // per input stream; -1 not recorded
    std::vector<std::int64_t> lastDts_;         // per output stream, in its time base
    std::int64_t startMicros_ = INT64_MIN;      // the first timestamp, in microseconds
    bool awaitingKeyFrame_ = false;             // live, until the first picture to start at
    std::int64_t firstSeenMicros_ = INT64_MIN;  // of the first packet while awaiting it
    double recordedSeconds_ = 0;
    double durationSeconds_ = 0;
    std::string lastLibraryLine_;  // the media library's last complaint
    int segmentFailures_ = 0;      // segments the library gave up on
};

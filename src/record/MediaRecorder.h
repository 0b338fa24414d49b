#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/download/record/RecordEnding.h"
#include "core/download/record/RecordRequest.h"

struct AVFormatContext;
struct AVIOContext;
struct AVPacket;
struct AVRational;
class ParentLink;

// Records one HLS playlist, DASH manifest or RTSP session into the descriptor `outputFd`: the
// best variant's video and audio streams, remuxed without re-encoding into the container the
// target's suffix names (".mp4", ".mkv", ".ts", ".mov", ".webm", ".flv"; Matroska for any
// other name). The demuxer is the one the probe decided on, never one the bytes suggest, and
// it opens everything through the InputGate. A live recording (a playlist without an end, or
// RTSP) that is stopped, stalls, or whose server ends it keeps what it has: its trailer is
// written and it ends as recorded. Runs on the recorder's main thread.
class MediaRecorder {
  public:
    MediaRecorder(const RecordRequest& request, int outputFd, ParentLink& parent);
    ~MediaRecorder();

    MediaRecorder(const MediaRecorder&) = delete;
    MediaRecorder& operator=(const MediaRecorder&) = delete;

    RecordEnding Run();

  private:
    bool Open();
    bool ChooseStreams();
    bool OpenOutput();
    bool Copy();
    std::optional<int> ReadAndHold(AVPacket* packet, AVPacket* held, bool& holding);
    bool WriteHeld(AVPacket* held);
    bool EndedCleanly(int lastRead) const;
    void DecideEnding(int lastRead);
    bool WritePacket(AVPacket* packet);
    bool IsStartOfLive(const AVPacket& packet, AVRational inBase);
    void Close();
    void Report();

    void EndRecorded(RecordEnding::Cause cause, long code, std::string detail);
    void EndCancelled();
    void Fail(RecordEnding::Cause cause, long code, std::string detail);
    void FailOrKeep(RecordEnding::Cause cause, long code, std::string detail);
    bool Stopped();
    std::string LibraryDetail(int error) const;

    static int OnInterrupt(void* self);
    static int OnWrite(void* self, std::uint8_t* data, int length);
    static std::int64_t OnSeek(void* self, std::int64_t offset, int whence);

    const RecordRequest& request_;
    int outputFd_;
    ParentLink& parent_;
    RecordEnding ending_;

    bool cancelled_ = false;
    bool stalled_ = false;
    std::int64_t lastInputMicros_ = 0;
    AVFormatContext* input_ = nullptr;
    AVFormatContext* output_ = nullptr;
    AVIOContext* sink_ = nullptr;
    int writeError_ = 0;                        // the errno of the first failed write
    bool wrote_ = false;                        // a packet is in the file
    std::uint64_t written_ = 0;                 // the file's length
    std::uint64_t position_ = 0;                // where the next write goes
    std::vector<int> outputIndex_;              // per input stream; -1 not recorded
    std::vector<std::int64_t> lastDts_;         // per output stream, in its time base
    std::int64_t startMicros_ = INT64_MIN;      // the first timestamp, in microseconds
    bool awaitingKeyFrame_ = false;             // live, until the first picture to start at
    std::int64_t firstSeenMicros_ = INT64_MIN;  // of the first packet while awaiting it
    double recordedSeconds_ = 0;
    double durationSeconds_ = 0;
};

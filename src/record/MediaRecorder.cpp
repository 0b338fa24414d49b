#include "record/MediaRecorder.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/avutil.h>
#include <libavutil/dict.h>
#include <libavutil/error.h>
#include <libavutil/time.h>
}

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <optional>
#include <string>

#include "core/download/PrintableText.h"
#include "record/InputGate.h"
#include "record/LibraryMessages.h"
#include "record/ParentLink.h"

namespace {

using Cause = RecordEnding::Cause;
using Outcome = RecordEnding::Outcome;

constexpr std::size_t kDetailLimit = 300;
constexpr std::size_t kSinkBufferSize = 256 * 1024;
constexpr std::int64_t kKeyFrameWaitMicros = 10 * 1000000LL;

// An HTTP or RTSP status the library reports as an error code; 0 for other errors.
long StatusOf(int error) {
    switch (error) {
        case AVERROR_HTTP_BAD_REQUEST:
            return 400;
        case AVERROR_HTTP_UNAUTHORIZED:
            return 401;
        case AVERROR_HTTP_FORBIDDEN:
            return 403;
        case AVERROR_HTTP_NOT_FOUND:
            return 404;
        case AVERROR_HTTP_OTHER_4XX:
            return 400;
        case AVERROR_HTTP_SERVER_ERROR:
            return 500;
        default:
            return 0;
    }
}

long ErrnoOf(int error) {
    return error < 0 && error > -4096 ? -error : EIO;
}

// The container the target's name asks for, among those that write one seekable file;
// Matroska for any other name (a playlist or segment muxer would write files of its own).
const AVOutputFormat* ContainerFor(const std::string& target) {
    const AVOutputFormat* format = av_guess_format(nullptr, target.c_str(), nullptr);
    for (std::string_view name :
         {"mp4", "mov", "matroska", "webm", "mpegts", "flv", "ipod", "3gp"}) {
        if (format != nullptr && name == format->name && (format->flags & AVFMT_NOFILE) == 0) {
            return format;
        }
    }
    return av_guess_format("matroska", nullptr, nullptr);
}

// The demuxer the probe decided on: the bytes of a later answer cannot choose another.
const AVInputFormat* DemuxerFor(RecordKind kind) {
    switch (kind) {
        case RecordKind::kHls:
            return av_find_input_format("hls");
        case RecordKind::kDash:
            return av_find_input_format("dash");
        case RecordKind::kRtsp:
            return av_find_input_format("rtsp");
        case RecordKind::kNone:
            break;
    }
    return nullptr;
}

long BitrateOf(const AVDictionary* metadata) {
    const AVDictionaryEntry* entry = av_dict_get(metadata, "variant_bitrate", nullptr, 0);
    return entry != nullptr ? std::strtol(entry->value, nullptr, 10) : -1;
}

bool IsMedia(const AVStream* stream) {
    auto type = stream->codecpar->codec_type;
    return type == AVMEDIA_TYPE_VIDEO || type == AVMEDIA_TYPE_AUDIO;
}

std::string TooLargeDetail() {
    return "a playlist is larger than " + std::to_string(InputGate::kPlaylistLimit) + " bytes";
}

}  // namespace

MediaRecorder::MediaRecorder(const RecordRequest& request, int outputFd, ParentLink& parent)
    : request_(request), outputFd_(outputFd), parent_(parent) {}

MediaRecorder::~MediaRecorder() {
    Close();
}

RecordEnding MediaRecorder::Run() {
    ending_ = RecordEnding{};
    if (Open() && ChooseStreams() && OpenOutput()) {
        Copy();
    }
    Close();
    return ending_;
}

bool MediaRecorder::Open() {
    const AVInputFormat* demuxer = DemuxerFor(request_.kind);
    input_ = avformat_alloc_context();
    if (input_ == nullptr || demuxer == nullptr) {
        Fail(Cause::kSetupFailed, ENOMEM, "the demuxer is not available");
        return false;
    }
    input_->interrupt_callback = {&MediaRecorder::OnInterrupt, this};
    InputGate::guard(input_);
    lastInputMicros_ = av_gettime_relative();
    AVDictionary* settings = nullptr;
    const std::string timeout = std::to_string(std::int64_t{request_.stallSeconds} * 1000000);
    if (request_.kind == RecordKind::kRtsp) {
        av_dict_set(&settings, "rtsp_transport", "tcp", 0);
        av_dict_set(&settings, "timeout", timeout.c_str(), 0);
        av_dict_set(&settings, "protocol_whitelist", "rtsp,rtp,tcp,udp,http,https,tls", 0);
        if (!request_.userAgent.empty()) {
            av_dict_set(&settings, "user_agent", request_.userAgent.c_str(), 0);
        }
    } else {
        av_dict_set(&settings, "protocol_whitelist", "http,https,tls,tcp,crypto", 0);
        // One connection per request: a kept-alive one is reused by a path of the demuxer
        // that trusts what the previous segment left behind.
        av_dict_set(&settings, "http_persistent", "0", 0);
        av_dict_set(&settings, "http_multiple", "0", 0);
    }
    int result = avformat_open_input(&input_, request_.url.c_str(), demuxer, &settings);
    av_dict_free(&settings);
    if (result < 0) {
        input_ = nullptr;  // a failed open frees the context
    } else if ((result = avformat_find_stream_info(input_, nullptr)) < 0) {
        avformat_close_input(&input_);
    }
    if (result >= 0) {
        return true;
    }
    if (cancelled_) {
        EndCancelled();
    } else if (InputGate::exceeded()) {
        Fail(Cause::kTooLarge, EFBIG, TooLargeDetail());
    } else if (stalled_) {
        Fail(Cause::kConnectFailed, ETIMEDOUT,
             "no answer for " + std::to_string(request_.stallSeconds) + " s");
    } else if (LibraryMessages::segmentFailures() > 0) {
        Fail(Cause::kSegmentFailed, EIO, LibraryDetail(result));
    } else if (result == AVERROR_HTTP_UNAUTHORIZED) {
        ending_ = {Outcome::kLoginNeeded, Cause::kBadStatus, 401, LibraryDetail(result)};
    } else if (long status = StatusOf(result); status != 0) {
        Fail(Cause::kBadStatus, status, LibraryDetail(result));
    } else if (result == AVERROR_INVALIDDATA) {
        Fail(request_.kind == RecordKind::kRtsp ? Cause::kNoResponse : Cause::kNotPlaylist, EINVAL,
             LibraryDetail(result));
    } else {
        Fail(Cause::kConnectFailed, ErrnoOf(result), LibraryDetail(result));
    }
    return false;
}

// The best variant: of several programs (HLS variants) the one of the highest bandwidth, of
// several representations (DASH) the highest of each kind, otherwise every stream. Only video
// and audio are recorded; the rest is discarded so that it is not even fetched.
bool MediaRecorder::ChooseStreams() {
    std::vector<bool> chosen(input_->nb_streams, false);
    const AVProgram* best = nullptr;
    for (unsigned i = 0; input_->nb_programs > 1 && i < input_->nb_programs; ++i) {
        if (best == nullptr ||
            BitrateOf(input_->programs[i]->metadata) > BitrateOf(best->metadata)) {
            best = input_->programs[i];
        }
    }
    if (best != nullptr) {
        for (unsigned i = 0; i < best->nb_stream_indexes; ++i) {
            if (best->stream_index[i] < input_->nb_streams) {
                chosen[best->stream_index[i]] = true;
            }
        }
    } else {
        for (AVMediaType type : {AVMEDIA_TYPE_VIDEO, AVMEDIA_TYPE_AUDIO}) {
            int top = -1;
            for (unsigned i = 0; i < input_->nb_streams; ++i) {
                const AVStream* stream = input_->streams[i];
                if (stream->codecpar->codec_type != type) {
                    continue;
                }
                long rate = BitrateOf(stream->metadata);
                if (rate < 0) {
                    chosen[i] = true;  // no variants: every stream
                } else if (top < 0 || rate > BitrateOf(input_->streams[top]->metadata)) {
                    top = static_cast<int>(i);
                }
            }
            if (top >= 0) {
                chosen[top] = true;
            }
        }
    }
    outputIndex_.assign(input_->nb_streams, -1);
    int count = 0;
    for (unsigned i = 0; i < input_->nb_streams; ++i) {
        if (chosen[i] && IsMedia(input_->streams[i])) {
            outputIndex_[i] = count++;
        } else {
            input_->streams[i]->discard = AVDISCARD_ALL;
        }
    }
    if (count == 0) {
        Fail(Cause::kNotPlaylist, ENODATA, "no video or audio stream");
        return false;
    }
    for (unsigned i = 0; request_.live && i < input_->nb_streams; ++i) {
        awaitingKeyFrame_ =
            awaitingKeyFrame_ || (outputIndex_[i] >= 0 &&
                                  input_->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO);
    }
    if (!request_.live && input_->duration > 0) {
        durationSeconds_ = static_cast<double>(input_->duration) / AV_TIME_BASE;
    }
    return true;
}

// The container the chosen name asks for, written to the descriptor the parent gave.
bool MediaRecorder::OpenOutput() {
    if (avformat_alloc_output_context2(&output_, ContainerFor(request_.targetName), nullptr,
                                       nullptr) < 0) {
        Fail(Cause::kSetupFailed, ENOMEM, "avformat_alloc_output_context2 failed");
        return false;
    }
    // Everything goes through the descriptor: a muxer may open no file of its own.
    output_->io_open = [](AVFormatContext*, AVIOContext**, const char*, int, AVDictionary**) {
        return AVERROR(EPERM);
    };
    auto* buffer = static_cast<unsigned char*>(av_malloc(kSinkBufferSize));
    sink_ =
        buffer != nullptr
            ? avio_alloc_context(buffer, kSinkBufferSize, 1, this, nullptr, &MediaRecorder::OnWrite,
                                 request_.seekable ? &MediaRecorder::OnSeek : nullptr)
            : nullptr;
    if (sink_ == nullptr) {
        av_free(buffer);
        Fail(Cause::kSetupFailed, ENOMEM, "avio_alloc_context failed");
        return false;
    }
    output_->pb = sink_;
    for (unsigned i = 0; i < input_->nb_streams; ++i) {
        if (outputIndex_[i] < 0) {
            continue;
        }
        AVStream* out = avformat_new_stream(output_, nullptr);
        if (out == nullptr ||
            avcodec_parameters_copy(out->codecpar, input_->streams[i]->codecpar) < 0) {
            Fail(Cause::kSetupFailed, ENOMEM, "avformat_new_stream failed");
            return false;
        }
        // The input container's tag may mean nothing in the output's.
        out->codecpar->codec_tag = 0;
        out->time_base = input_->streams[i]->time_base;
    }
    lastDts_.assign(output_->nb_streams, INT64_MIN);
    int result = avformat_write_header(output_, nullptr);
    if (result < 0) {
        if (writeError_ != 0) {
            Fail(Cause::kTransferFailed, writeError_, std::strerror(writeError_));
        } else {
            Fail(Cause::kCannotContain, -result, LibraryDetail(result));
        }
        return false;
    }
    return true;
}

bool MediaRecorder::Copy() {
    AVPacket* packet = av_packet_alloc();
    // The packet read last is held back until the next one comes: when the source goes silent,
    // closes or is stopped, the library hands over what it had of a picture whose data never
    // came, which is left out.
    AVPacket* held = av_packet_alloc();
    if (packet == nullptr || held == nullptr) {
        av_packet_free(&packet);
        av_packet_free(&held);
        Fail(Cause::kSetupFailed, ENOMEM, "av_packet_alloc failed");
        return false;
    }
    bool holding = false;
    const std::optional<int> lastRead = ReadAndHold(packet, held, holding);
    // Only a clean end of the media makes the last packet whole for sure.
    const bool failed = !lastRead || (holding && EndedCleanly(*lastRead) && !WriteHeld(held));
    av_packet_free(&packet);
    av_packet_free(&held);
    if (failed) {
        return false;
    }
    Report();
    DecideEnding(*lastRead);
    return ending_.outcome == Outcome::kRecorded;
}

// Reads until the media end, fail or are stopped, writing each packet once the next one came;
// the last one read stays in `held` while `holding`. The last read's result, or nullopt when
// a packet could not be written (the recording has then failed).
std::optional<int> MediaRecorder::ReadAndHold(AVPacket* packet, AVPacket* held, bool& holding) {
    int result = 0;
    while (!Stopped()) {
        result = av_read_frame(input_, packet);
        if (result < 0) {
            break;
        }
        lastInputMicros_ = av_gettime_relative();
        if (holding) {
            holding = false;
            if (!WriteHeld(held)) {
                return std::nullopt;
            }
            // Told once something is in the file: a stop asked on seeing it keeps the file.
            Report();
        }
        av_packet_move_ref(held, packet);
        holding = true;
        if (LibraryMessages::segmentFailures() > 0 || InputGate::exceeded()) {
            break;
        }
    }
    return result;
}

bool MediaRecorder::WriteHeld(AVPacket* held) {
    const bool written = WritePacket(held);
    av_packet_unref(held);
    if (!written) {
        Fail(Cause::kTransferFailed, writeError_ != 0 ? writeError_ : EIO,
             writeError_ != 0 ? std::strerror(writeError_) : LibraryMessages::lastLine());
        return false;
    }
    wrote_ = true;
    return true;
}

// The media came to their end with nothing stopped, failed or cut short: an RTSP session has
// no end of its own.
bool MediaRecorder::EndedCleanly(int lastRead) const {
    return lastRead == AVERROR_EOF && !cancelled_ && !stalled_ &&
           LibraryMessages::segmentFailures() == 0 && !InputGate::exceeded() &&
           request_.kind != RecordKind::kRtsp;
}

// How the recording ended once the reading stopped: kept, cancelled or failed, and why.
void MediaRecorder::DecideEnding(int lastRead) {
    if (InputGate::exceeded()) {
        FailOrKeep(Cause::kTooLarge, EFBIG, TooLargeDetail());
    } else if (LibraryMessages::segmentFailures() > 0) {
        FailOrKeep(Cause::kSegmentFailed, EIO, LibraryMessages::lastLine());
    } else if (cancelled_) {
        if (request_.live && wrote_) {
            EndRecorded(Cause::kNone, 0, {});
        } else {
            EndCancelled();
        }
    } else if (stalled_) {
        std::string detail = "no data for " + std::to_string(request_.stallSeconds) + " s";
        if (request_.live && wrote_) {
            EndRecorded(Cause::kStalled, ETIMEDOUT, detail);
        } else {
            Fail(Cause::kTransferFailed, ETIMEDOUT, detail);
        }
    } else if (lastRead == AVERROR_EOF) {
        // A live playlist that gained its end is complete; a session that closes is not.
        if (request_.kind == RecordKind::kRtsp && wrote_) {
            EndRecorded(Cause::kServerClosed, ECONNRESET, "the server ended the session");
        } else if (wrote_) {
            EndRecorded(Cause::kNone, 0, {});
        } else {
            Fail(Cause::kTransferFailed, EIO, "the stream holds no media");
        }
    } else {
        long code = StatusOf(lastRead);
        FailOrKeep(Cause::kTransferFailed, code != 0 ? code : ErrnoOf(lastRead),
                   LibraryDetail(lastRead));
    }
}

// Moves the packet into the output's stream and time base, starting the file at zero and
// keeping each stream's decoding times increasing (a live source may repeat one).
bool MediaRecorder::WritePacket(AVPacket* packet) {
    int index = packet->stream_index >= 0 &&
                        static_cast<unsigned>(packet->stream_index) < outputIndex_.size()
                    ? outputIndex_[packet->stream_index]
                    : -1;
    if (index < 0) {
        return true;
    }
    if (packet->dts == AV_NOPTS_VALUE) {
        packet->dts = packet->pts;
    }
    if (packet->dts == AV_NOPTS_VALUE) {
        return true;  // nothing to place it by (a live source's first packets)
    }
    const AVRational inBase = input_->streams[packet->stream_index]->time_base;
    if (awaitingKeyFrame_ && !IsStartOfLive(*packet, inBase)) {
        return true;
    }
    // The file starts at the input's first presentation time, as a player expects.
    if (startMicros_ == INT64_MIN) {
        startMicros_ = input_->start_time != AV_NOPTS_VALUE
                           ? input_->start_time
                           : av_rescale_q(packet->dts, inBase, AV_TIME_BASE_Q);
    }
    const std::int64_t shift = av_rescale_q(startMicros_, AV_TIME_BASE_Q, inBase);
    packet->dts -= shift;
    if (packet->pts != AV_NOPTS_VALUE) {
        packet->pts -= shift;
    }
    if (request_.live && packet->dts < 0) {
        return true;  // sound from before the first picture
    }
    AVStream* out = output_->streams[index];
    av_packet_rescale_ts(packet, inBase, out->time_base);
    std::int64_t& last = lastDts_[index];
    if (last != INT64_MIN && packet->dts <= last) {
        packet->dts = last + 1;
    }
    if (packet->pts != AV_NOPTS_VALUE && packet->pts < packet->dts) {
        packet->pts = packet->dts;
    }
    last = packet->dts;
    const std::int64_t end = (packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts) +
                             std::max<std::int64_t>(packet->duration, 0);
    recordedSeconds_ =
        std::max(recordedSeconds_, static_cast<double>(end) * av_q2d(out->time_base));
    packet->stream_index = index;
    packet->pos = -1;
    return av_interleaved_write_frame(output_, packet) >= 0 && writeError_ == 0;
}

// A live recording joins the stream anywhere: it starts at a video key frame, so that the file
// plays from its first picture, and at that frame's time. A source without key frames for
// kKeyFrameWait is recorded as it comes.
bool MediaRecorder::IsStartOfLive(const AVPacket& packet, AVRational inBase) {
    const std::int64_t micros = av_rescale_q(packet.dts, inBase, AV_TIME_BASE_Q);
    if (firstSeenMicros_ == INT64_MIN) {
        firstSeenMicros_ = micros;
    }
    const bool keyFrame =
        input_->streams[packet.stream_index]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO &&
        (packet.flags & AV_PKT_FLAG_KEY) != 0;
    if (!keyFrame && micros - firstSeenMicros_ < kKeyFrameWaitMicros) {
        return false;
    }
    awaitingKeyFrame_ = false;
    startMicros_ = micros;
    return true;
}

void MediaRecorder::Report() {
    if (!wrote_) {
        return;
    }
    RecordPipeFormat::Progress progress;
    progress.written = written_;
    progress.recordedMicros = static_cast<std::int64_t>(recordedSeconds_ * 1e6);
    progress.durationMicros = static_cast<std::int64_t>(durationSeconds_ * 1e6);
    parent_.Progress(progress);
}

// Ends a recording whose file is kept: the trailer and the last bytes in the file; the
// parent gives it its name.
void MediaRecorder::EndRecorded(Cause cause, long code, std::string detail) {
    int trailer = av_write_trailer(output_);
    if (trailer >= 0) {
        avio_flush(sink_);
    }
    if (trailer < 0 || writeError_ != 0) {
        int error = writeError_ != 0 ? writeError_ : EIO;
        Fail(Cause::kTransferFailed, error,
             writeError_ != 0 ? std::strerror(error) : LibraryDetail(trailer));
        return;
    }
    ending_ = {Outcome::kRecorded, cause, code, std::move(detail)};
    RecordPipeFormat::Progress last{written_, static_cast<std::int64_t>(recordedSeconds_ * 1e6),
                                    static_cast<std::int64_t>(durationSeconds_ * 1e6)};
    parent_.Progress(last);
}

void MediaRecorder::EndCancelled() {
    ending_ = {Outcome::kCancelled, Cause::kNone, 0, {}};
}

void MediaRecorder::Fail(Cause cause, long code, std::string detail) {
    ending_ = {Outcome::kFailed, cause, code, std::move(detail)};
}

// A live recording keeps what it has when the stream breaks; one with an end does not.
void MediaRecorder::FailOrKeep(Cause cause, long code, std::string detail) {
    if (request_.live && wrote_) {
        EndRecorded(cause, code, std::move(detail));
    } else {
        Fail(cause, code, std::move(detail));
    }
}

bool MediaRecorder::Stopped() {
    cancelled_ = cancelled_ || parent_.StopAsked();
    return cancelled_;
}

std::string MediaRecorder::LibraryDetail(int error) const {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(error, text, sizeof text);
    std::string detail = PrintableText(text, kDetailLimit);
    const std::string line = LibraryMessages::lastLine();
    if (!line.empty()) {
        detail += " (" + line + ")";
    }
    return detail;
}

void MediaRecorder::Close() {
    if (input_ != nullptr) {
        avformat_close_input(&input_);
    }
    if (output_ != nullptr) {
        avformat_free_context(output_);
        output_ = nullptr;
    }
    if (sink_ != nullptr) {
        av_freep(&sink_->buffer);
        avio_context_free(&sink_);
    }
}

int MediaRecorder::OnInterrupt(void* self) {
    auto& recorder = *static_cast<MediaRecorder*>(self);
    if (recorder.Stopped() || InputGate::exceeded()) {
        return 1;
    }
    const std::int64_t silent = av_gettime_relative() - recorder.lastInputMicros_;
    if (silent > std::int64_t{recorder.request_.stallSeconds} * 1000000) {
        recorder.stalled_ = true;
        return 1;
    }
    recorder.parent_.Alive();
    return 0;
}

int MediaRecorder::OnWrite(void* self, std::uint8_t* data, int length) {
    auto& recorder = *static_cast<MediaRecorder*>(self);
    int done = 0;
    while (done < length) {
        const ssize_t written =
            ::write(recorder.outputFd_, data + done, static_cast<std::size_t>(length - done));
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            recorder.writeError_ = written < 0 ? errno : EIO;
            return AVERROR(recorder.writeError_);
        }
        done += static_cast<int>(written);
    }
    recorder.position_ += static_cast<std::uint64_t>(length);
    recorder.written_ = std::max(recorder.written_, recorder.position_);
    return length;
}

std::int64_t MediaRecorder::OnSeek(void* self, std::int64_t offset, int whence) {
    auto& recorder = *static_cast<MediaRecorder*>(self);
    if ((whence & AVSEEK_SIZE) != 0) {
        return static_cast<std::int64_t>(recorder.written_);
    }
    off_t at = ::lseek(recorder.outputFd_, offset, whence & ~AVSEEK_FORCE);
    if (at < 0) {
        return AVERROR(errno);
    }
    recorder.position_ = static_cast<std::uint64_t>(at);
    return at;
}

#include "core/download/record/CRecordDownload.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/avutil.h>
#include <libavutil/dict.h>
#include <libavutil/error.h>
}

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>
#include <system_error>

#include "core/detect/DetectedStream.h"
#include "core/download/DownloadHost.h"
#include "core/download/DownloadMessages.h"
#include "core/download/EndDownload.h"
#include "core/download/PrintableText.h"
#include "core/download/ProgressWords.h"
#include "core/download/http/RecordText.h"
#include "core/download/http/TransferFormat.h"
#include "core/download/record/PlaylistProbe.h"
#include "core/download/record/RecordMessages.h"
#include "core/download/record/RecordProgress.h"
#include "core/store/StreamList.h"

namespace {

using namespace DownloadMessages;

constexpr std::size_t kDetailLimit = 300;
constexpr std::size_t kUrlShownLimit = 2048;
constexpr std::size_t kSinkBufferSize = 256 * 1024;
constexpr std::int64_t kKeyFrameWaitMicros = 10 * 1000000LL;

// The media library logs on the thread that calls it; each recording's thread keeps the
// complaints that explain its failure, and nothing reaches a terminal.
thread_local std::string* tLibraryLine = nullptr;
thread_local int* tSegmentFailures = nullptr;

void OnLibraryLog(void* object, int level, const char* format, va_list args) {
    if (tLibraryLine == nullptr || level > AV_LOG_WARNING) {
        return;
    }
    char line[512];
    int printPrefix = 1;
    av_log_format_line2(object, level, format, args, line, sizeof line, &printPrefix);
    std::string_view text(line, ::strnlen(line, sizeof line));
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
        text.remove_suffix(1);
    }
    // A segment the library cannot fetch, or gets only in part, is skipped without an error:
    // a gap in the file.
    if (text.find("Failed to open segment") != std::string_view::npos ||
        text.find("Failed to open fragment") != std::string_view::npos ||
        text.find("Stream ends prematurely") != std::string_view::npos) {
        ++*tSegmentFailures;
    }
    *tLibraryLine = PrintableText(text, kDetailLimit);
}

void InitLibraryOnce() {
    static std::once_flag once;
    std::call_once(once, [] {
        av_log_set_callback(OnLibraryLog);
        avformat_network_init();
    });
}

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

// Percent-encodes a login part for the URL's user-information.
std::string EncodedLoginPart(std::string_view text) {
    static const char* hex = "0123456789ABCDEF";
    std::string encoded;
    for (char c : text) {
        auto byte = static_cast<unsigned char>(c);
        if ((byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') ||
            (byte >= '0' && byte <= '9') || c == '-' || c == '.' || c == '_' || c == '~') {
            encoded += c;
        } else {
            encoded += '%';
            encoded += hex[byte >> 4];
            encoded += hex[byte & 15];
        }
    }
    return encoded;
}

// Where a URL's authority starts and where its host starts within it (behind any login);
// nullopt for a URL without "://".
struct Authority {
    std::size_t start;
    std::size_t host;
};

std::optional<Authority> AuthorityOf(const std::string& url) {
    std::size_t schemeEnd = url.find("://");
    if (schemeEnd == std::string::npos) {
        return std::nullopt;
    }
    std::size_t authority = schemeEnd + 3;
    std::size_t authorityEnd = url.find_first_of("/?#", authority);
    std::size_t at = url.rfind('@', authorityEnd == std::string::npos ? url.size() : authorityEnd);
    return Authority{authority, at != std::string::npos && at >= authority ? at + 1 : authority};
}

// The URL with `login` ("user:password", encoded) in place of any login it held.
std::string WithLogin(const std::string& url, const std::string& login) {
    const std::optional<Authority> authority = AuthorityOf(url);
    return authority ? url.substr(0, authority->start) + login + "@" + url.substr(authority->host)
                     : url;
}

// The URL without its login, for prompts and messages.
std::string WithoutLogin(const std::string& url) {
    const std::optional<Authority> authority = AuthorityOf(url);
    return authority ? url.substr(0, authority->start) + url.substr(authority->host) : url;
}

// The container the target's suffix names, among those that write one seekable file;
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

long BitrateOf(const AVDictionary* metadata) {
    const AVDictionaryEntry* entry = av_dict_get(metadata, "variant_bitrate", nullptr, 0);
    return entry != nullptr ? std::strtol(entry->value, nullptr, 10) : -1;
}

bool IsMedia(const AVStream* stream) {
    auto type = stream->codecpar->codec_type;
    return type == AVMEDIA_TYPE_VIDEO || type == AVMEDIA_TYPE_AUDIO;
}

}  // namespace

CRecordDownload::CRecordDownload(DownloadHost& host, RecordKind kind, HttpDownloadOptions options)
    : host_(host), kind_(kind), options_(std::move(options)) {}

CRecordDownload::~CRecordDownload() {
    if (thread_.joinable()) {
        Cancel();
        thread_.join();
    }
    Close();
}

void CRecordDownload::Cancel() {
    cancel_.store(true);
}

std::string CRecordDownload::ShowMessage(const char* messageTemplate, long code) {
    std::string text = Fill(messageTemplate, code);
    host_.showMessage(text);
    return text;
}

int CRecordDownload::Start(DetectedStream* record, const std::string& url,
                           const std::string& targetPath) {
    if (record == nullptr || thread_.joinable() || kind_ == RecordKind::kNone) {
        return -1;
    }
    if (targetPath.empty()) {
        ShowMessage(kFileOpenFailed, ENOENT);
        return -1;
    }
    InitLibraryOnce();
    record_ = record;
    url_ = url;
    target_ = targetPath;
    const bool context = options_.sendRequestContext;
    referer_ = options_.refererOverride.value_or(
        context ? std::string(record->referer, ::strnlen(record->referer, sizeof record->referer))
                : "");
    userAgent_ = options_.userAgentOverride.value_or(
        context
            ? std::string(record->userAgent, ::strnlen(record->userAgent, sizeof record->userAgent))
            : "");
    if (!options_.userAgentOverride && userAgent_.empty()) {
        userAgent_ = options_.userAgent;
    }
    // Options to the media library are text: a line break would add request headers.
    for (const std::string* value : {&url_, &referer_, &userAgent_}) {
        if (std::any_of(value->begin(), value->end(),
                        [](char c) { return static_cast<unsigned char>(c) < 0x20; })) {
            ShowMessage(kSetupFailed, EINVAL);
            return -1;
        }
    }
    if (int error = file_.Open(targetPath, 0644); error != 0) {
        ShowMessage(kFileOpenFailed, error);
        return -1;
    }
    try {
        thread_ = std::thread(&CRecordDownload::Run, this);
    } catch (const std::system_error& error) {
        file_.Discard();
        ShowMessage(kSetupFailed, error.code().value());
        return -1;
    }
    return 0;
}

void CRecordDownload::Run() {
    tLibraryLine = &lastLibraryLine_;
    tSegmentFailures = &segmentFailures_;
    if (Probe() && Open() && ChooseStreams() && OpenOutput()) {
        Copy();
    }
    Close();
    tLibraryLine = nullptr;
    tSegmentFailures = nullptr;
}

// A playlist is read once before the library opens it: one that is not a playlist, or that is
// protected, is refused with a message of its own, and its end decides how a stop ends.
bool CRecordDownload::Probe() {
    if (kind_ == RecordKind::kRtsp) {
        live_ = true;
        return true;
    }
    PlaylistProbe::Request request;
    request.url = url_;
    request.userAgent = userAgent_;
    request.referer = referer_;
    request.timeoutSeconds = options_.connectTimeoutSeconds + options_.stallSeconds;
    request.stop = [](void* self) { return static_cast<CRecordDownload*>(self)->cancel_.load(); };
    request.stopContext = this;
    PlaylistProbe::Result probe = PlaylistProbe::Run(request, kind_);
    if (cancel_.load()) {
        EndCancelled();
        return false;
    }
    if (probe.curlCode != 0) {
        Fail(kConnectFailed, probe.curlCode, probe.detail);
        return false;
    }
    if (probe.status != 200 && probe.status != 401) {
        Fail(kBadStatus, probe.status, probe.detail);
        return false;
    }
    // A login is asked for when the library meets the refusal.
    if (probe.status == 401) {
        return true;
    }
    if (!probe.facts.isPlaylist) {
        Fail(RecordMessages::kNotPlaylist, EINVAL, "the response is no playlist");
        return false;
    }
    if (probe.facts.isProtected) {
        Fail(RecordMessages::kProtected, EACCES, "the stream is encrypted for a DRM system");
        return false;
    }
    live_ = probe.facts.live;
    return true;
}

bool CRecordDownload::Open() {
    std::string url = url_;
    for (int attempt = 0;; ++attempt) {
        if (OpenInput(url)) {
            return true;
        }
        if (cancel_.load()) {
            EndCancelled();
            return false;
        }
        const int error = openError_;
        if (stalled_) {
            Fail(kConnectFailed, ETIMEDOUT,
                 "no answer for " + std::to_string(options_.stallSeconds) + " s");
            return false;
        }
        if (error == AVERROR_HTTP_UNAUTHORIZED && attempt == 0 && AskLogin(url)) {
            continue;
        }
        if (long status = StatusOf(error); status != 0) {
            Fail(kBadStatus, status, LibraryDetail(error));
        } else if (error == AVERROR_INVALIDDATA) {
            Fail(kind_ == RecordKind::kRtsp ? kNoResponse : RecordMessages::kNotPlaylist, EINVAL,
                 LibraryDetail(error));
        } else {
            Fail(kConnectFailed, error < 0 && error > -4096 ? -error : EIO, LibraryDetail(error));
        }
        return false;
    }
}

// Opens the input and reads its streams; false with the library's code in openError_.
bool CRecordDownload::OpenInput(const std::string& url) {
    input_ = avformat_alloc_context();
    if (input_ == nullptr) {
        openError_ = AVERROR(ENOMEM);
        return false;
    }
    input_->interrupt_callback = {&CRecordDownload::OnInterrupt, this};
    lastInputTick_.store(options_.ticks());
    AVDictionary* settings = nullptr;
    const std::string timeout = std::to_string(options_.stallSeconds * 1000000L);
    if (kind_ == RecordKind::kRtsp) {
        av_dict_set(&settings, "rtsp_transport", "tcp", 0);
        av_dict_set(&settings, "timeout", timeout.c_str(), 0);
        av_dict_set(&settings, "protocol_whitelist", "rtsp,rtp,tcp,udp,http,https,tls", 0);
    } else {
        av_dict_set(&settings, "rw_timeout", timeout.c_str(), 0);
        av_dict_set(&settings, "protocol_whitelist", "http,https,tls,tcp,crypto,data", 0);
        if (!referer_.empty()) {
            av_dict_set(&settings, "referer", referer_.c_str(), 0);
        }
    }
    if (!userAgent_.empty()) {
        av_dict_set(&settings, "user_agent", userAgent_.c_str(), 0);
    }
    int result = avformat_open_input(&input_, url.c_str(), nullptr, &settings);
    av_dict_free(&settings);
    if (result < 0) {
        // A failed open frees the context.
        input_ = nullptr;
        openError_ = result;
        return false;
    }
    result = avformat_find_stream_info(input_, nullptr);
    if (result < 0) {
        avformat_close_input(&input_);
        openError_ = result;
        return false;
    }
    return true;
}

// The login the server asks for, through the same prompt as a web download's.
bool CRecordDownload::AskLogin(std::string& url) {
    DownloadHost::Credentials credentials;
    DownloadHost::LoginRequest request{401, PrintableText(WithoutLogin(url), kUrlShownLimit), ""};
    if (!host_.askLogin(request, credentials)) {
        return false;
    }
    url = WithLogin(
        url, EncodedLoginPart(credentials.user) + ":" + EncodedLoginPart(credentials.password));
    return true;
}

// The best variant: of several programs (HLS variants) the one of the highest bandwidth, of
// several representations (DASH) the highest of each kind, otherwise every stream. Only video
// and audio are recorded; the rest is discarded so that it is not even fetched.
bool CRecordDownload::ChooseStreams() {
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
        Fail(RecordMessages::kNotPlaylist, ENODATA, "no video or audio stream");
        return false;
    }
    for (unsigned i = 0; live_ && i < input_->nb_streams; ++i) {
        awaitingKeyFrame_ =
            awaitingKeyFrame_ || (outputIndex_[i] >= 0 &&
                                  input_->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO);
    }
    if (!live_ && input_->duration > 0) {
        durationSeconds_ = static_cast<double>(input_->duration) / AV_TIME_BASE;
    }
    return true;
}

// The container the chosen name asks for, written through the aside file.
bool CRecordDownload::OpenOutput() {
    if (avformat_alloc_output_context2(&output_, ContainerFor(target_), nullptr, nullptr) < 0) {
        Fail(kSetupFailed, ENOMEM, "avformat_alloc_output_context2 failed");
        return false;
    }
    // Everything goes through the aside file: a muxer may open no file of its own.
    output_->io_open = [](AVFormatContext*, AVIOContext**, const char*, int, AVDictionary**) {
        return AVERROR(EPERM);
    };
    auto* buffer = static_cast<unsigned char*>(av_malloc(kSinkBufferSize));
    sink_ = buffer != nullptr
                ? avio_alloc_context(buffer, kSinkBufferSize, 1, this, nullptr,
                                     &CRecordDownload::OnWrite,
                                     file_.inPlace() ? nullptr : &CRecordDownload::OnSeek)
                : nullptr;
    if (sink_ == nullptr) {
        av_free(buffer);
        Fail(kSetupFailed, ENOMEM, "avio_alloc_context failed");
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
            Fail(kSetupFailed, ENOMEM, "avformat_new_stream failed");
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
            Fail(kTransferFailed, writeError_, std::strerror(writeError_));
        } else {
            Fail(RecordMessages::kCannotContain, -result, LibraryDetail(result));
        }
        return false;
    }
    return true;
}

bool CRecordDownload::Copy() {
    RecordProgress progress(options_.ticks, durationSeconds_);
    AVPacket* packet = av_packet_alloc();
    if (packet == nullptr) {
        Fail(kSetupFailed, ENOMEM, "av_packet_alloc failed");
        return false;
    }
    // The packet read last is held back until the next one comes: when the source goes silent,
    // closes or is stopped, the library hands over what it had of a picture whose data never
    // came, which is left out.
    AVPacket* held = av_packet_alloc();
    if (held == nullptr) {
        av_packet_free(&packet);
        Fail(kSetupFailed, ENOMEM, "av_packet_alloc failed");
        return false;
    }
    bool holding = false;
    int result = 0;
    bool wrote = false;
    auto writeHeld = [&] {
        const bool written = WritePacket(held);
        av_packet_unref(held);
        holding = false;
        if (!written) {
            Fail(kTransferFailed, writeError_ != 0 ? writeError_ : EIO,
                 writeError_ != 0 ? std::strerror(writeError_) : lastLibraryLine_);
            return false;
        }
        wrote = true;
        return true;
    };
    auto release = [&] {
        av_packet_free(&packet);
        av_packet_free(&held);
    };
    while (!cancel_.load()) {
        result = av_read_frame(input_, packet);
        if (result < 0) {
            break;
        }
        lastInputTick_.store(options_.ticks());
        if (holding) {
            if (!writeHeld()) {
                release();
                return false;
            }
            // Told once something is in the file: a stop asked on seeing it keeps the file.
            progress.Report(written_, recordedSeconds_, *record_);
        }
        av_packet_move_ref(held, packet);
        holding = true;
        if (segmentFailures_ > 0) {
            break;
        }
    }
    // Only a clean end of the media makes the last packet whole for sure.
    const bool cleanEnd = result == AVERROR_EOF && !cancel_.load() && !stalled_ &&
                          segmentFailures_ == 0 && kind_ != RecordKind::kRtsp;
    if (holding && cleanEnd && !writeHeld()) {
        release();
        return false;
    }
    release();

    if (segmentFailures_ > 0) {
        if (live_ && wrote) {
            EndRecorded(RecordMessages::kSegmentFailed, EIO, lastLibraryLine_);
        } else {
            Fail(RecordMessages::kSegmentFailed, EIO, lastLibraryLine_);
        }
        return false;
    }
    if (cancel_.load()) {
        if (live_ && wrote) {
            EndRecorded(nullptr, 0, {});
        } else {
            EndCancelled();
        }
        return false;
    }
    if (stalled_) {
        std::string detail = "no data for " + std::to_string(options_.stallSeconds) + " s";
        if (live_ && wrote) {
            EndRecorded(RecordMessages::kStalled, ETIMEDOUT, detail);
        } else {
            Fail(kTransferFailed, ETIMEDOUT, detail);
        }
        return false;
    }
    if (result == AVERROR_EOF) {
        // A live playlist that gained its end is complete; a session that closes is not.
        if (kind_ == RecordKind::kRtsp && wrote) {
            EndRecorded(RecordMessages::kServerClosed, ECONNRESET, "the server ended the session");
        } else if (wrote) {
            EndRecorded(nullptr, 0, {});
        } else {
            Fail(kTransferFailed, EIO, "the stream holds no media");
        }
        return wrote;
    }
    long code = StatusOf(result);
    if (code == 0) {
        code = result < 0 && result > -4096 ? -result : EIO;
    }
    if (live_ && wrote) {
        EndRecorded(kTransferFailed, code, LibraryDetail(result));
    } else {
        Fail(kTransferFailed, code, LibraryDetail(result));
    }
    return false;
}

// Moves the packet into the output's stream and time base, starting the file at zero and
// keeping each stream's decoding times increasing (a live source may repeat one).
bool CRecordDownload::WritePacket(AVPacket* packet) {
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
    if (live_ && packet->dts < 0) {
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
    recordedSeconds_ = std::max(recordedSeconds_, end * av_q2d(out->time_base));
    packet->stream_index = index;
    packet->pos = -1;
    return av_interleaved_write_frame(output_, packet) >= 0 && writeError_ == 0;
}

// A live recording joins the stream anywhere: it starts at a video key frame, so that the file
// plays from its first picture, and at that frame's time. A source without key frames for
// kKeyFrameWait is recorded as it comes.
bool CRecordDownload::IsStartOfLive(const AVPacket& packet, AVRational inBase) {
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

// Ends a recording whose file is kept: the trailer, the file into place, "完了". With a
// template the user is told why it ended early.
void CRecordDownload::EndRecorded(const char* messageTemplate, long code, std::string detail) {
    int trailer = av_write_trailer(output_);
    if (trailer >= 0) {
        avio_flush(sink_);
    }
    if (trailer < 0 || writeError_ != 0) {
        int error = writeError_ != 0 ? writeError_ : EIO;
        Fail(kTransferFailed, error,
             writeError_ != 0 ? std::strerror(error) : LibraryDetail(trailer));
        return;
    }
    if (int error = file_.Commit(); error != 0) {
        Fail(kTransferFailed, error, std::string(file_.failedCall()) + ": " + std::strerror(error));
        return;
    }
    DownloadOutcome outcome;
    outcome.kind = DownloadOutcome::Kind::kCompleted;
    outcome.code = code;
    if (messageTemplate != nullptr) {
        outcome.message = ShowMessage(messageTemplate, code);
    }
    outcome.detail = std::move(detail);
    if (!live_) {
        SetRecordText(record_->progressText, "100%");
    }
    SetRecordText(record_->sizeText, FormatSize(written_));
    Finish(kStateEnded, ProgressWords::kComplete, outcome);
}

void CRecordDownload::EndCancelled() {
    file_.Discard();
    DownloadOutcome outcome;
    outcome.kind = DownloadOutcome::Kind::kCancelled;
    Finish(written_ > 0 ? kStateEnded : kStateIdle, ProgressWords::kCancel, outcome);
}

void CRecordDownload::Fail(const char* messageTemplate, long code, std::string detail) {
    file_.Discard();
    DownloadOutcome outcome;
    outcome.kind = DownloadOutcome::Kind::kFailed;
    outcome.code = code;
    outcome.message = ShowMessage(messageTemplate, code);
    outcome.detail = std::move(detail);
    Finish(kStateIdle, written_ > 0 ? nullptr : ProgressWords::kFailed, outcome);
}

void CRecordDownload::Finish(std::int32_t state, const char* progressWord,
                             const DownloadOutcome& outcome) {
    if (ended_) {
        return;
    }
    ended_ = true;
    EndDownload(*record_, record_->ownerList, host_, state, progressWord, outcome);
}

std::string CRecordDownload::LibraryDetail(int error) const {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(error, text, sizeof text);
    std::string detail = PrintableText(text, kDetailLimit);
    if (!lastLibraryLine_.empty()) {
        detail += " (" + lastLibraryLine_ + ")";
    }
    return detail;
}

void CRecordDownload::Close() {
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

int CRecordDownload::OnInterrupt(void* self) {
    auto& download = *static_cast<CRecordDownload*>(self);
    if (download.cancel_.load()) {
        return 1;
    }
    if (download.Stalled()) {
        download.stalled_ = true;
        return 1;
    }
    return 0;
}

bool CRecordDownload::Stalled() const {
    std::uint32_t silent = options_.ticks() - lastInputTick_.load();
    return silent > static_cast<std::uint32_t>(options_.stallSeconds) * 1000U;
}

int CRecordDownload::OnWrite(void* self, std::uint8_t* data, int length) {
    auto& download = *static_cast<CRecordDownload*>(self);
    if (length <= 0) {
        return 0;
    }
    if (int error = download.file_.Write(reinterpret_cast<const char*>(data),
                                         static_cast<std::size_t>(length));
        error != 0) {
        download.writeError_ = error;
        return AVERROR(error);
    }
    download.position_ += static_cast<std::uint64_t>(length);
    download.written_ = std::max(download.written_, download.position_);
    return length;
}

std::int64_t CRecordDownload::OnSeek(void* self, std::int64_t offset, int whence) {
    auto& download = *static_cast<CRecordDownload*>(self);
    if ((whence & AVSEEK_SIZE) != 0) {
        return static_cast<std::int64_t>(download.written_);
    }
    off_t at = ::lseek(download.file_.fd(), offset, whence & ~AVSEEK_FORCE);
    if (at < 0) {
        return AVERROR(errno);
    }
    download.position_ = static_cast<std::uint64_t>(at);
    return at;
}

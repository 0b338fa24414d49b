#include "core/download/record/CRecordDownload.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "core/detect/DetectedStream.h"
#include "core/download/DownloadHost.h"
#include "core/download/DownloadMessages.h"
#include "core/download/PrintableText.h"
#include "core/download/record/PlaylistProbe.h"
#include "core/download/record/RecordLoginUrl.h"
#include "core/download/record/RecordMessages.h"
#include "core/download/record/RecordPipeFormat.h"
#include "core/download/record/RecordPipeReader.h"
#include "core/download/record/RecorderPath.h"
#include "core/download/record/RecorderProcess.h"
#include "core/http/HttpFieldText.h"
#include "core/store/StreamList.h"

namespace {

using namespace DownloadMessages;
using Cause = RecordEnding::Cause;
using Clock = std::chrono::steady_clock;

constexpr std::size_t kUrlShownLimit = 2048;
constexpr std::size_t kReadChunk = 16 * 1024;
// Beyond the stall time, which the recorder watches itself: a name lookup, which the media
// library cannot interrupt, may take this long.
constexpr auto kHangGrace = std::chrono::seconds(30);
// A recorder asked to stop finishes its file within this.
constexpr auto kStopGrace = std::chrono::seconds(15);
// A recorder that said its last word has this long to exit.
constexpr auto kExitGrace = std::chrono::seconds(5);

// The words for what the recorder reports; null for an ending that needs none.
const char* TemplateOf(Cause cause) {
    switch (cause) {
        case Cause::kNone:
            return nullptr;
        case Cause::kConnectFailed:
            return kConnectFailed;
        case Cause::kBadStatus:
            return kBadStatus;
        case Cause::kNoResponse:
            return kNoResponse;
        case Cause::kNotPlaylist:
            return RecordMessages::kNotPlaylist;
        case Cause::kSegmentFailed:
            return RecordMessages::kSegmentFailed;
        case Cause::kTransferFailed:
            return kTransferFailed;
        case Cause::kCannotContain:
            return RecordMessages::kCannotContain;
        case Cause::kSetupFailed:
            return kSetupFailed;
        case Cause::kStalled:
            return RecordMessages::kStalled;
        case Cause::kServerClosed:
            return RecordMessages::kServerClosed;
        case Cause::kTooLarge:
            return RecordMessages::kTooLarge;
    }
    return kTransferFailed;
}

// The kind of a failure the recorder reports, where its cause does not explain it already.
FailureCause FailureCauseOf(const RecordEnding& ending) {
    const auto code = static_cast<int>(ending.code);
    switch (ending.cause) {
        case Cause::kConnectFailed:
        case Cause::kTransferFailed:
            return FailureCauses::OfErrno(code);
        case Cause::kBadStatus:
            return FailureCauses::OfHttpStatus(code);
        case Cause::kNoResponse:
            return FailureCause::kBadReply;
        default:
            return FailureCause::kUnknown;
    }
}

}  // namespace

CRecordDownload::CRecordDownload(DownloadHost& host, RecordKind kind, HttpDownloadOptions options)
    : CRecordDownload(host, kind, std::move(options), RecorderPath::find()) {}

CRecordDownload::CRecordDownload(DownloadHost& host, RecordKind kind, HttpDownloadOptions options,
                                 std::string recorderPath)
    : reporter_(host),
      kind_(kind),
      options_(std::move(options)),
      recorderPath_(std::move(recorderPath)) {
    int wake[2];
    if (::pipe2(wake, O_CLOEXEC | O_NONBLOCK) == 0) {
        wakeRead_ = wake[0];
        wakeWrite_ = wake[1];
    }
}

CRecordDownload::~CRecordDownload() {
    if (thread_.joinable()) {
        Cancel();
        thread_.join();
    }
    for (int fd : {wakeRead_, wakeWrite_}) {
        if (fd >= 0) {
            ::close(fd);
        }
    }
}

void CRecordDownload::Cancel() {
    cancel_.store(true);
    const char byte = 1;
    [[maybe_unused]] ssize_t ignored = ::write(wakeWrite_, &byte, 1);
}

StartResult CRecordDownload::Start(DetectedStream* record, const std::string& url,
                                   const std::string& targetPath) {
    if (record == nullptr || thread_.joinable() || kind_ == RecordKind::kNone) {
        return StartResult::kRefused;
    }
    if (targetPath.empty()) {
        reporter_.tell(kFileOpenFailed, ENOENT);
        return StartResult::kCannotWrite;
    }
    if (recorderPath_.empty() || wakeRead_ < 0) {
        // The user learns which part is missing, not only a code.
        reporter_.tell(kSetupFailed, ENOENT, FailureCause::kUnknown,
                       recorderPath_.empty() ? "the recorder program (quorvex-record) was not found"
                                             : "no pipe to stop the recording with");
        return StartResult::kNoResources;
    }
    reporter_.attach(*record);
    url_ = url;
    target_ = targetPath;
    // The media library is never given a cookie.
    context_ = RequestContext::of(*record, options_);
    context_.cookie.clear();
    // Options to the media library are text: a line break would add request headers.
    if (HttpFieldText::hasControlBytes(url_)) {
        reporter_.tell(kSetupFailed, EINVAL);
        return StartResult::kBadUrl;
    }
    if (!context_.sendable()) {
        reporter_.tell(kSetupFailed, EINVAL);
        return StartResult::kBadRequest;
    }
    if (int error = file_.open(targetPath, 0644); error != 0) {
        reporter_.tell(kFileOpenFailed, error);
        return StartResult::kCannotWrite;
    }
    try {
        thread_ = std::thread(&CRecordDownload::Run, this);
    } catch (const std::system_error& error) {
        file_.discard();
        reporter_.tell(kSetupFailed, error.code().value());
        return StartResult::kNoResources;
    }
    return StartResult::kStarted;
}

void CRecordDownload::Run() {
    if (!Probe()) {
        return;
    }
    // From here a stop keeps what was recorded: the front end names its stop so.
    StoreLiveRecording(reporter_.record(), live_);
    std::string url = url_;
    for (int attempt = 0;; ++attempt) {
        RecordEnding ending;
        if (!Record(url, ending)) {
            return;
        }
        if (ending.outcome != RecordEnding::Outcome::kLoginNeeded) {
            Conclude(ending);
            return;
        }
        // A login is asked once; the file is written again from its start.
        if (attempt > 0 || cancel_.load() || !AskLogin(url) ||
            (file_.startOver() != 0 && !file_.inPlace())) {
            if (cancel_.load()) {
                EndCancelled();
            } else {
                Fail(kBadStatus, 401, ending.detail, FailureCause::kAccessDenied);
            }
            return;
        }
    }
}

// A playlist is read once before the recorder opens it: one that is not a playlist, or that
// is protected or too large, is refused with a message of its own, and its end decides how a
// stop ends.
bool CRecordDownload::Probe() {
    if (kind_ == RecordKind::kRtsp) {
        live_ = true;
        return true;
    }
    PlaylistProbe::Request request;
    request.url = url_;
    request.userAgent = context_.userAgent;
    request.referer = context_.referer;
    request.caFile = options_.caFile;
    request.timeoutSeconds = options_.connectTimeoutSeconds + options_.stallSeconds;
    request.stop = [](void* self) { return static_cast<CRecordDownload*>(self)->cancel_.load(); };
    request.stopContext = this;
    PlaylistProbe::Result probe = PlaylistProbe::Run(request, kind_);
    if (cancel_.load()) {
        EndCancelled();
        return false;
    }
    if (probe.tooLarge) {
        Fail(RecordMessages::kTooLarge, EFBIG,
             "the playlist is larger than " + std::to_string(PlaylistProbe::kTextLimit) + " bytes",
             FailureCause::kUnknown);
        return false;
    }
    if (probe.curlCode != 0) {
        Fail(kConnectFailed, probe.curlCode, probe.detail,
             FailureCauses::OfCurlCode(probe.curlCode));
        return false;
    }
    if (probe.status != 200 && probe.status != 401) {
        Fail(kBadStatus, probe.status, probe.detail, FailureCauses::OfHttpStatus(probe.status));
        return false;
    }
    // A login is asked for when the recorder meets the refusal.
    if (probe.status == 401) {
        return true;
    }
    if (!probe.facts.isPlaylist) {
        Fail(RecordMessages::kNotPlaylist, EINVAL, "the response is no playlist",
             FailureCause::kUnknown);
        return false;
    }
    if (probe.facts.isProtected) {
        Fail(RecordMessages::kProtected, EACCES, "the stream is encrypted for a DRM system",
             FailureCause::kUnknown);
        return false;
    }
    live_ = probe.facts.live;
    return true;
}

// One run of the recorder; false when it ended the download itself (the recorder could not
// run, crashed, hung or spoke nonsense).
bool CRecordDownload::Record(const std::string& url, RecordEnding& ending) {
    RecorderProcess recorder;
    std::string failure;
    if (!recorder.Start(recorderPath_, file_.fd(), failure)) {
        Fail(kSetupFailed, ENOENT, failure, FailureCause::kUnknown);
        return false;
    }
    RecordRequest request;
    request.kind = kind_;
    request.live = live_;
    request.seekable = !file_.inPlace();
    request.stallSeconds =
        static_cast<std::uint32_t>(std::clamp(options_.stallSeconds, 1L, 86400L));
    request.url = url;
    request.referer = context_.referer;
    request.userAgent = context_.userAgent;
    request.caFile = options_.caFile;
    request.proxy = options_.proxy.value_or("");
    request.targetName = target_.substr(target_.find_last_of('/') + 1);
    // A recorder that died at once is told apart by what follows.
    recorder.Send(RecordPipeFormat::requestMessage(request));

    const Watch watch = Follow(recorder, ending);
    const RecorderProcess::Exit exit =
        recorder.End(watch == Watch::kEnded ? std::chrono::milliseconds(kExitGrace)
                                            : std::chrono::milliseconds(0));
    peakKilobytes_.store(exit.peakKilobytes);
    switch (watch) {
        case Watch::kEnded:
            return true;
        case Watch::kStopped:
            EndCancelled();
            return false;
        case Watch::kHung:
            Fail(RecordMessages::kRecorderFailed, ETIMEDOUT,
                 "the recorder stopped answering and was ended", FailureCause::kUnknown);
            return false;
        case Watch::kMalformed:
            Fail(RecordMessages::kRecorderFailed, EPROTO, "the recorder sent malformed data",
                 FailureCause::kUnknown);
            return false;
        case Watch::kCrashed:
            break;
    }
    Fail(RecordMessages::kRecorderFailed, WIFSIGNALED(exit.status) ? WTERMSIG(exit.status) : EIO,
         "the recorder ended unexpectedly (" + RecorderProcess::Describe(exit.status) + ")",
         FailureCause::kUnknown);
    return false;
}

// Reads the recorder's reports until its output ends, it goes silent too long, or it says
// something malformed; a stop asked meanwhile closes its input.
CRecordDownload::Watch CRecordDownload::Follow(RecorderProcess& recorder, RecordEnding& ending) {
    RecordPipeReader reader;
    std::vector<std::uint8_t> buffer(kReadChunk);
    bool said = false;
    bool stopSent = false;
    const Clock::duration hangBound = std::chrono::seconds(options_.stallSeconds) + kHangGrace;
    Clock::time_point lastHeard = Clock::now();
    while (true) {
        if (cancel_.load() && !stopSent) {
            recorder.CloseInput();
            stopSent = true;
            lastHeard = Clock::now();
        }
        const Clock::duration bound = stopSent ? Clock::duration(kStopGrace) : hangBound;
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(lastHeard + bound - Clock::now());
        if (left.count() <= 0) {
            return said ? Watch::kEnded : stopSent ? Watch::kStopped : Watch::kHung;
        }
        pollfd watched[2] = {{recorder.Output(), POLLIN, 0}, {wakeRead_, POLLIN, 0}};
        const int ready = ::poll(watched, 2, static_cast<int>(left.count()));
        if (ready < 0 && errno != EINTR) {
            return Watch::kCrashed;
        }
        if (watched[1].revents != 0) {
            char drained[64];
            while (::read(wakeRead_, drained, sizeof drained) > 0) {
            }
        }
        if (ready <= 0 || watched[0].revents == 0) {
            continue;
        }
        const ssize_t got = ::read(recorder.Output(), buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            return said ? Watch::kEnded : Watch::kCrashed;
        }
        lastHeard = Clock::now();
        reader.append(buffer.data(), static_cast<std::size_t>(got));
        for (auto result = reader.next(); result != RecordPipeReader::Result::kNeedMore;
             result = reader.next()) {
            if (result == RecordPipeReader::Result::kProgress && !said) {
                const auto& progress = reader.progress();
                TakeProgress(progress.written, progress.recordedMicros, progress.durationMicros);
            } else if (result == RecordPipeReader::Result::kAlive && meter_ && !said) {
                if (meter_->Waiting(reporter_.progress())) {
                    reporter_.show();
                }
            } else if (result == RecordPipeReader::Result::kEnd && !said) {
                ending = reader.ending();
                said = true;
            } else if (result != RecordPipeReader::Result::kAlive) {
                return Watch::kMalformed;  // a request, a second ending, or broken bytes
            }
        }
    }
}

void CRecordDownload::TakeProgress(std::uint64_t written, std::int64_t recordedMicros,
                                   std::int64_t durationMicros) {
    written_ = written;
    if (!meter_) {
        meter_.emplace(options_.ticks, static_cast<double>(durationMicros) / 1e6);
    }
    if (meter_->Report(written, static_cast<double>(recordedMicros) / 1e6, reporter_.progress())) {
        reporter_.show();
    }
}

// The login the server asks for, through the same prompt as a web download's.
bool CRecordDownload::AskLogin(std::string& url) {
    DownloadHost::Credentials credentials;
    DownloadHost::LoginRequest request{
        401, PrintableText(RecordLoginUrl::withoutLogin(url), kUrlShownLimit), ""};
    if (!reporter_.host().askLogin(request, credentials)) {
        return false;
    }
    url = RecordLoginUrl::withLogin(url, credentials.user, credentials.password);
    return true;
}

void CRecordDownload::Conclude(const RecordEnding& ending) {
    const std::string detail = PrintableText(ending.detail, RecordPipeFormat::kMaxDetail);
    const char* words = TemplateOf(ending.cause);
    switch (ending.outcome) {
        case RecordEnding::Outcome::kRecorded:
            EndRecorded(words, static_cast<long>(ending.code), detail);
            return;
        case RecordEnding::Outcome::kCancelled:
            EndCancelled();
            return;
        case RecordEnding::Outcome::kFailed:
        case RecordEnding::Outcome::kLoginNeeded:
            Fail(words != nullptr ? words : kTransferFailed, static_cast<long>(ending.code), detail,
                 FailureCauseOf(ending));
            return;
    }
}

// Ends a recording whose file is kept: the file into place, "完了". With a template the user
// is told why it ended early.
void CRecordDownload::EndRecorded(const char* messageTemplate, long code, std::string detail) {
    if (int error = file_.commit(options_.replaceTarget ? AsideFile::Replace::kAlways
                                                        : AsideFile::Replace::kNever);
        error != 0) {
        Fail(kTransferFailed, error, std::string(file_.failedCall()) + ": " + std::strerror(error),
             FailureCauses::OfErrno(error));
        return;
    }
    DownloadOutcome outcome;
    outcome.kind = DownloadOutcome::Kind::kCompleted;
    outcome.code = code;
    if (messageTemplate != nullptr) {
        outcome.message = reporter_.tell(messageTemplate, code);
    }
    outcome.detail = std::move(detail);
    reporter_.progress().size = written_;
    reporter_.finish(kStateEnded, TransferProgress::Stage::kComplete, outcome);
}

void CRecordDownload::EndCancelled() {
    file_.discard();
    DownloadOutcome outcome;
    outcome.kind = DownloadOutcome::Kind::kCancelled;
    reporter_.finish(written_ > 0 ? kStateEnded : kStateIdle, TransferProgress::Stage::kCancelled,
                     outcome);
}

void CRecordDownload::Fail(const char* messageTemplate, long code, std::string detail,
                           FailureCause cause) {
    file_.discard();
    reporter_.fail(messageTemplate, code, std::move(detail), cause);
}

#include "core/download/http/CHttpDownload.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <optional>
#include <string_view>
#include <system_error>
#include <vector>

#include "core/detect/DetectedStream.h"
#include "core/download/DownloadHost.h"
#include "core/download/DownloadMessages.h"
#include "core/download/PrintableText.h"
#include "core/download/common/RecordText.h"
#include "core/download/common/ReportProgress.h"
#include "core/download/http/HttpRetryRule.h"
#include "core/download/record/CRecordDownload.h"
#include "core/store/StreamList.h"

namespace {

using namespace DownloadMessages;

// A URL shown in a login prompt keeps this much (libcurl takes URLs of up to 8 MB).
constexpr std::size_t kUrlShownLimit = 2048;

std::string CallFailed(const char* call, int code) {
    return std::string(call) + ": " + std::strerror(code);
}

// The library's global state, set up once for the process; its result holds for every later
// download, so a failed setup fails each of them instead of running half initialized.
CURLcode InitCurlOnce() {
    static const CURLcode result = curl_global_init(CURL_GLOBAL_DEFAULT);
    return result;
}

// The URL as it will be fetched, or an empty string when it cannot be read as one. A URL
// without a scheme is taken as http.
std::string NormalizeUrl(const std::string& url, std::string& scheme, std::string& host) {
    CURLU* handle = curl_url();
    if (handle == nullptr) {
        return {};
    }
    std::string result;
    unsigned flags = CURLU_NON_SUPPORT_SCHEME | CURLU_URLENCODE;
    CURLUcode rc = curl_url_set(handle, CURLUPART_URL, url.c_str(), flags);
    if (rc != CURLUE_OK) {
        rc = curl_url_set(handle, CURLUPART_URL, ("http://" + url).c_str(), flags);
    }
    char* text = nullptr;
    char* schemeText = nullptr;
    char* hostText = nullptr;
    if (rc == CURLUE_OK && curl_url_get(handle, CURLUPART_URL, &text, 0) == CURLUE_OK &&
        curl_url_get(handle, CURLUPART_SCHEME, &schemeText, 0) == CURLUE_OK) {
        result = text;
        scheme = schemeText;
        // A URL without a host (file:) is refused for its scheme, not here.
        if (curl_url_get(handle, CURLUPART_HOST, &hostText, 0) == CURLUE_OK) {
            host = hostText;
        }
    }
    curl_free(text);
    curl_free(schemeText);
    curl_free(hostText);
    curl_url_cleanup(handle);
    return result;
}

// One line of libcurl's cookie list per "name=value" of a Cookie header, bound to `host`
// exactly (no subdomains, any path, not only over https, for this session only).
std::vector<std::string> CookieLines(std::string_view header, std::string_view host) {
    std::vector<std::string> lines;
    while (!header.empty()) {
        std::size_t end = header.find(';');
        std::string_view pair = HttpResponseHeaders::trim(header.substr(0, end));
        header = end == std::string_view::npos ? std::string_view{} : header.substr(end + 1);
        std::size_t equals = pair.find('=');
        // A tab would split the line's fields; a pair without a name cannot be stored.
        if (equals == std::string_view::npos || equals == 0 ||
            pair.find('\t') != std::string_view::npos) {
            continue;
        }
        std::string line(host);
        line += "\tFALSE\t/\tFALSE\t0\t";
        line += HttpResponseHeaders::trim(pair.substr(0, equals));
        line += '\t';
        line += HttpResponseHeaders::trim(pair.substr(equals + 1));
        lines.push_back(std::move(line));
    }
    return lines;
}

}  // namespace

CHttpDownload::CHttpDownload(DownloadHost& host, HttpDownloadOptions options)
    : reporter_(host), options_(std::move(options)) {}

CHttpDownload::~CHttpDownload() {
    if (thread_.joinable()) {
        Cancel();
        thread_.join();
    }
    ReleaseHandle();  // a paused download's; its part goes with file_
    if (multi_ != nullptr) {
        curl_multi_cleanup(multi_);
    }
}

void CHttpDownload::Cancel() {
    cancel_.store(true);
    if (DownloadWorker* recording = recording_.load()) {
        recording->Cancel();
    }
    if (multi_ != nullptr) {
        curl_multi_wakeup(multi_);
    }
}

bool CHttpDownload::CanPause() const {
    return recording_.load() == nullptr;
}

void CHttpDownload::Pause() {
    if (!CanPause()) {
        return;
    }
    pause_.store(true);
    if (multi_ != nullptr) {
        curl_multi_wakeup(multi_);
    }
}

bool CHttpDownload::Resume() {
    if (!paused_.load()) {
        return false;
    }
    if (thread_.joinable()) {
        thread_.join();  // it returned once it had told of the pause
    }
    paused_.store(false);
    pause_.store(false);
    try_ = 1;  // the tries begin anew, as for a download the user starts
    reporter_.show(kStateDownloading, TransferProgress::Stage::kConnecting);
    try {
        thread_ = std::thread(&CHttpDownload::Run, this);
    } catch (const std::system_error& error) {
        // Told and ended here: no thread will.
        Fail(kSetupFailed, error.code().value(), error.what(), FailureCause::kUnknown);
        ReleaseHandle();
    }
    return true;
}

std::string CHttpDownload::ErrorText() const {
    return reporter_.errorText();
}

StartResult CHttpDownload::Start(DetectedStream* record, const std::string& url,
                                 const std::string& targetPath) {
    if (record == nullptr || thread_.joinable() || multi_ != nullptr) {
        return StartResult::kRefused;
    }
    if (targetPath.empty()) {
        reporter_.tell(kFileOpenFailed, ENOENT, FailureCause::kCannotWrite);
        return StartResult::kCannotWrite;
    }
    if (const CURLcode init = InitCurlOnce(); init != CURLE_OK) {
        reporter_.tell(kSetupFailed, init, FailureCause::kUnknown, curl_easy_strerror(init));
        return StartResult::kNoResources;
    }
    std::string scheme;
    std::string fetched = url.empty() ? std::string() : NormalizeUrl(url, scheme, urlHost_);
    if (fetched.empty()) {
        reporter_.tell(kConnectFailed, CURLE_URL_MALFORMAT, FailureCause::kBadUrl);
        return StartResult::kBadUrl;
    }
    // The URL comes from sniffed traffic: never anything but the web.
    if (scheme != "http" && scheme != "https") {
        reporter_.tell(kConnectFailed, CURLE_UNSUPPORTED_PROTOCOL, FailureCause::kBadUrl);
        return StartResult::kBadUrl;
    }
    context_ = RequestContext::of(*record, options_);
    if (!context_.sendable()) {
        reporter_.tell(kSetupFailed, EINVAL, FailureCause::kUnknown);
        return StartResult::kBadRequest;
    }
    reporter_.attach(*record);
    url_ = fetched;
    targetPath_ = targetPath;

    if (int error = file_.open(targetPath, 0644); error != 0) {
        reporter_.tell(kFileOpenFailed, error, FailureCauses::OfErrno(error));
        return StartResult::kCannotWrite;
    }
    multi_ = curl_multi_init();
    if (multi_ == nullptr) {
        file_.discard();
        reporter_.tell(kSetupFailed, ENOMEM, FailureCause::kUnknown);
        return StartResult::kNoResources;
    }
    try {
        thread_ = std::thread(&CHttpDownload::Run, this);
    } catch (const std::system_error& error) {
        file_.discard();
        reporter_.tell(kSetupFailed, error.code().value(), FailureCause::kUnknown);
        return StartResult::kNoResources;
    }
    return StartResult::kStarted;
}

void CHttpDownload::ApplyRequestContext(CURL* easy) {
    if (!context_.referer.empty()) {
        curl_easy_setopt(easy, CURLOPT_REFERER, context_.referer.c_str());
    }
    // An empty one leaves the header out altogether.
    curl_easy_setopt(easy, CURLOPT_USERAGENT,
                     context_.userAgent.empty() ? nullptr : context_.userAgent.c_str());
    // Through libcurl's cookie store, not as a header of our own: a stored cookie is sent to
    // its host only, where a header would follow every redirect to any other.
    for (const std::string& line : CookieLines(context_.cookie, urlHost_)) {
        curl_easy_setopt(easy, CURLOPT_COOKIELIST, line.c_str());
    }
}

void CHttpDownload::Run() {
    // A paused download that is cancelled ends here too: what it wrote goes.
    if (cancel_.load()) {
        if (transferStarted_) {
            EndTransfer();
        } else {
            EndQuietly();
        }
        ReleaseHandle();
        return;
    }
    // A resumed download goes on with its handle: a login given and cookies set stay.
    if (easy_ == nullptr && !SetUpHandle()) {
        Fail(kSetupFailed, ENOMEM, "curl_easy_init: " + std::string(std::strerror(ENOMEM)),
             FailureCause::kUnknown);
        return;
    }
    RunTransfer(easy_);
    if (!paused_.load()) {
        ReleaseHandle();
    }
}

bool CHttpDownload::SetUpHandle() {
    CURL* easy = curl_easy_init();
    if (easy == nullptr) {
        return false;
    }
    easy_ = easy;
    headers_ = curl_slist_append(headers_, "Cache-Control: no-cache");
    headers_ = curl_slist_append(headers_, "Pragma: no-cache");
    headers_ = curl_slist_append(headers_, "Accept: */*");

    curl_easy_setopt(easy, CURLOPT_URL, url_.c_str());
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
    // A login given to one server never goes on to another that a redirect names.
    curl_easy_setopt(easy, CURLOPT_UNRESTRICTED_AUTH, 0L);
    curl_easy_setopt(easy, CURLOPT_MAXREDIRS, options_.maxRedirects);
    ApplyRequestContext(easy);
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, curlError_);
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT, options_.connectTimeoutSeconds);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, options_.stallSeconds);
    curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, 64L * 1024);
    curl_easy_setopt(easy, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &CHttpDownload::OnHeader);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &CHttpDownload::OnBody);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, this);
    if (!options_.caFile.empty()) {
        curl_easy_setopt(easy, CURLOPT_CAINFO, options_.caFile.c_str());
    }
    if (options_.proxy) {
        curl_easy_setopt(easy, CURLOPT_PROXY, options_.proxy->c_str());
    }
    return true;
}

void CHttpDownload::ReleaseHandle() {
    if (easy_ != nullptr) {
        curl_easy_cleanup(easy_);
        easy_ = nullptr;
    }
    curl_slist_free_all(tryHeaders_);
    tryHeaders_ = nullptr;
    curl_slist_free_all(headers_);
    headers_ = nullptr;
}

void CHttpDownload::RunTransfer(CURL* easy) {
    bool askedServer = false;
    bool askedProxy = false;
    for (;;) {
        if (pause_.load()) {
            EnterPause();  // asked while a login was asked for
            return;
        }
        PrepareTry(easy);
        int result = PerformOnce(easy);
        if (handOverKind_ != RecordKind::kNone && !cancel_.load()) {
            HandOver(easy);
            return;
        }
        if (cancel_.load()) {
            if (transferStarted_) {
                EndTransfer();
            } else {
                EndQuietly();
            }
            return;
        }
        if (PauseTakesEffect(result)) {
            EnterPause();
            return;
        }
        if (writeError_ != 0) {
            Fail(kTransferFailed, writeError_, CallFailed("write", writeError_),
                 FailureCauses::OfErrno(writeError_));
            return;
        }
        result = CheckBodyLength(result);
        long connectStatus = 0;
        curl_easy_getinfo(easy, CURLINFO_HTTP_CONNECTCODE, &connectStatus);
        long status = connectStatus == 407 ? 407 : response_.status();
        if (tryStarted_ && result == CURLE_OK) {
            EndTransfer();
            return;
        }
        if (MayRetry(result, status)) {
            if (!WaitBeforeRetry(status)) {
                return;
            }
            continue;
        }
        if (tryStarted_) {
            FailTransfer(easy, result);
            return;
        }
        if (statusRejected_) {
            FailStatus(status);
            return;
        }
        // An earlier try wrote data; this one got no file.
        if (transferStarted_ && status != 401 && status != 407) {
            if (result != CURLE_OK) {
                FailTransfer(easy, result);
            } else {
                FailStatus(status);
            }
            return;
        }
        if (result != CURLE_OK && status != 407) {
            FailBeforeTransfer(easy, result);
            return;
        }
        if (status != 401 && status != 407) {
            FailStatus(status);
            return;
        }
        if (!AskLogin(easy, status, askedServer, askedProxy)) {
            FailStatus(status);
            return;
        }
        if (cancel_.load()) {
            EndQuietly();
            return;
        }
    }
}

// The response is a playlist: the recording takes over the record and ends it; this worker
// then reports nothing more.
void CHttpDownload::HandOver(CURL* easy) {
    file_.discard();
    char* effective = nullptr;
    curl_easy_getinfo(easy, CURLINFO_EFFECTIVE_URL, &effective);
    const std::string url = effective != nullptr ? effective : url_;
    recordingOwned_ = std::make_unique<CRecordDownload>(reporter_.host(), handOverKind_, options_);
    if (recordingOwned_->Start(&reporter_.record(), url, targetPath_) != StartResult::kStarted) {
        // The recording has told the user why.
        recordingOwned_.reset();
        DownloadOutcome outcome;
        outcome.kind = DownloadOutcome::Kind::kFailed;
        outcome.code = EIO;
        outcome.detail = "the playlist's recording could not start";
        reporter_.finish(kStateIdle, TransferProgress::Stage::kFailed, outcome);
        return;
    }
    reporter_.passOn();
    recording_.store(recordingOwned_.get());
    // A cancel that came meanwhile reaches the recording too.
    if (cancel_.load()) {
        recordingOwned_->Cancel();
    }
}

// A try that follows one which wrote data asks for the rest only with a validator that makes
// the server send the whole (changed) file instead; without one it starts over.
void CHttpDownload::PrepareTry(CURL* easy) {
    curl_slist_free_all(tryHeaders_);
    tryHeaders_ = nullptr;
    rangeAsked_ = received_ > 0 && !validator_.empty();
    std::string range;
    curl_slist* list = nullptr;
    for (curl_slist* item = headers_; item != nullptr; item = item->next) {
        list = curl_slist_append(list, item->data);
    }
    if (rangeAsked_) {
        range = std::to_string(received_) + "-";
        list = curl_slist_append(list, ("If-Range: " + validator_).c_str());
    }
    tryHeaders_ = list;
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, tryHeaders_ != nullptr ? tryHeaders_ : headers_);
    curl_easy_setopt(easy, CURLOPT_RANGE, rangeAsked_ ? range.c_str() : nullptr);
}

// A broken connection, a timeout, a server error or "too many requests" may pass; a refusal
// or a login will not.
bool CHttpDownload::MayRetry(int result, long status) const {
    if (try_ >= options_.maxTries) {
        return false;
    }
    if (overlong_) {
        return true;
    }
    if (!tryStarted_ && HttpRetryRule::TransientStatus(status)) {
        return true;
    }
    // A 206 whose range is not the one asked for: the next try starts over.
    if (!tryStarted_ && status == 206) {
        return true;
    }
    return HttpRetryRule::TransientTransferError(result);
}

// Shows the next try in the row and waits for it; false when a cancel came meanwhile (the
// download has then ended).
bool CHttpDownload::WaitBeforeRetry(long status) {
    // After a body that ran past its length the server's word on this file is not trusted:
    // the next try starts over rather than asking for a range beyond the end.
    if ((!tryStarted_ && status == 206) || overlong_) {
        validator_.clear();
    }
    const long waitMillis =
        HttpRetryRule::WaitMillis(options_.retryDelayMillis, try_, status,
                                  response_.retryAfterSeconds(), options_.maxRetryAfterSeconds);
    ++try_;
    TransferProgress& shown = reporter_.progress();
    shown.stage = TransferProgress::Stage::kRetrying;
    shown.tryNumber = try_;
    shown.tryCount = options_.maxTries;
    reporter_.show();
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMillis);
    // Woken at once by Cancel and Pause through curl_multi_wakeup.
    while (!cancel_.load() && !pause_.load()) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            until - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return true;
        }
        curl_multi_poll(multi_, nullptr, 0,
                        static_cast<int>(std::min<long long>(left.count(), 1000)), nullptr);
    }
    if (!cancel_.load()) {
        EnterPause();
        return false;
    }
    if (transferStarted_) {
        EndTransfer();
    } else {
        EndQuietly();
    }
    return false;
}

int CHttpDownload::PerformOnce(CURL* easy) {
    response_.beginRequest();
    statusRejected_ = false;
    tryStarted_ = false;
    tryDone_ = false;
    overlong_ = false;
    curlError_[0] = '\0';
    if (curl_multi_add_handle(multi_, easy) != CURLM_OK) {
        return CURLE_OUT_OF_MEMORY;
    }
    int result = CURLE_OK;
    for (;;) {
        int running = 0;
        if (curl_multi_perform(multi_, &running) != CURLM_OK) {
            result = CURLE_OUT_OF_MEMORY;
            break;
        }
        if (running == 0 || cancel_.load() || pause_.load()) {
            break;
        }
        // Woken at once by Cancel and Pause through curl_multi_wakeup, even when the server is
        // silent.
        if (curl_multi_poll(multi_, nullptr, 0, 1000, nullptr) != CURLM_OK) {
            result = CURLE_OUT_OF_MEMORY;
            break;
        }
    }
    int left = 0;
    while (CURLMsg* message = curl_multi_info_read(multi_, &left)) {
        if (message->msg == CURLMSG_DONE && message->easy_handle == easy) {
            result = message->data.result;
            tryDone_ = true;
        }
    }
    curl_multi_remove_handle(multi_, easy);
    return result;
}

bool CHttpDownload::AskLogin(CURL* easy, long status, bool& askedServer, bool& askedProxy) {
    // Credentials are tried once: a second refusal after them is the failure.
    bool& asked = status == 407 ? askedProxy : askedServer;
    if (asked) {
        return false;
    }
    asked = true;
    // After redirects the server that asks is not the one first named: the prompt names it.
    char* effective = nullptr;
    curl_easy_getinfo(easy, CURLINFO_EFFECTIVE_URL, &effective);
    const std::string answered = effective != nullptr ? effective : url_;
    DownloadHost::Credentials credentials;
    if (!reporter_.host().askLogin(
            {status, PrintableText(answered, kUrlShownLimit), response_.realm()}, credentials)) {
        return false;
    }
    if (status == 407) {
        curl_easy_setopt(easy, CURLOPT_PROXYUSERNAME, credentials.user.c_str());
        curl_easy_setopt(easy, CURLOPT_PROXYPASSWORD, credentials.password.c_str());
        curl_easy_setopt(easy, CURLOPT_PROXYAUTH, CURLAUTH_ANY);
    } else {
        // Asked again directly: libcurl then gives the login to that server only, and to no
        // other host a later redirect names.
        curl_easy_setopt(easy, CURLOPT_URL, answered.c_str());
        curl_easy_setopt(easy, CURLOPT_USERNAME, credentials.user.c_str());
        curl_easy_setopt(easy, CURLOPT_PASSWORD, credentials.password.c_str());
        curl_easy_setopt(easy, CURLOPT_HTTPAUTH, CURLAUTH_ANY);
    }
    return true;
}

void CHttpDownload::FailBeforeTransfer(CURL* easy, int curlCode) {
    long status = 0;
    curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
    // Connected, but what came back was no HTTP response at all.
    bool unreadable =
        status == 0 && (curlCode == CURLE_WEIRD_SERVER_REPLY || curlCode == CURLE_GOT_NOTHING ||
                        curlCode == CURLE_UNSUPPORTED_PROTOCOL);
    Fail(unreadable ? kNoResponse : kConnectFailed, curlCode, CurlDetail(curlCode),
         unreadable ? FailureCause::kBadReply : CurlCause(easy, curlCode));
}

void CHttpDownload::FailTransfer(CURL* easy, int curlCode) {
    Fail(kTransferFailed, curlCode, CurlDetail(curlCode), CurlCause(easy, curlCode));
}

void CHttpDownload::FailStatus(long status) {
    Fail(kBadStatus, status, StatusDetail(status), FailureCauses::OfHttpStatus(status));
}

FailureCause CHttpDownload::CurlCause(CURL* easy, int curlCode) const {
    long osErrno = 0;
    curl_easy_getinfo(easy, CURLINFO_OS_ERRNO, &osErrno);
    return FailureCauses::OfCurlCode(curlCode, osErrno);
}

// libcurl's own words for the failure, more specific than its code.
std::string CHttpDownload::CurlDetail(int curlCode) const {
    std::string_view text(curlError_, ::strnlen(curlError_, sizeof curlError_));
    if (text.empty()) {
        text = curl_easy_strerror(static_cast<CURLcode>(curlCode));
    }
    return std::string(HttpResponseHeaders::trim(text));
}

std::string CHttpDownload::StatusDetail(long status) const {
    const std::string& line = response_.statusLine();
    return line.empty() ? "HTTP status " + std::to_string(status) : line;
}

std::size_t CHttpDownload::OnHeader(char* data, std::size_t size, std::size_t count, void* self) {
    return static_cast<CHttpDownload*>(self)->HandleHeader(data, size * count);
}

std::size_t CHttpDownload::OnBody(char* data, std::size_t size, std::size_t count, void* self) {
    return static_cast<CHttpDownload*>(self)->HandleBody(data, size * count);
}

// Follows the headers of each response (redirects and interim answers included) so that the
// transfer starts exactly at the body of the final 200.
std::size_t CHttpDownload::HandleHeader(const char* data, std::size_t length) {
    const bool headersEnded = response_.take(std::string_view(data, length));
    if (headersEnded && !tryStarted_ && !BeginTry()) {
        return 0;
    }
    return length;
}

// At the end of a final response's headers: whether its body is the file (a 200, which starts
// the temporary file over) or the rest of it (a 206 for exactly the range asked, of the same
// length). The length the response announces (Content-Length, chunked or not, or the total of
// its Content-Range) is the file's: a body that ends short of it or runs past it fails the try.
// False only when the file could not be started over.
bool CHttpDownload::BeginTry() {
    // A playlist named like any file is known by its type: it is recorded instead.
    const long status = response_.status();
    if (status == 200 && !transferStarted_ && options_.recordPlaylists) {
        handOverKind_ = RecordKinds::OfContentType(response_.contentType());
        if (handOverKind_ != RecordKind::kNone) {
            return false;
        }
    }
    if (status == 200) {
        if (received_ > 0) {
            if (int error = file_.startOver(); error != 0) {
                writeError_ = error;
                return false;
            }
            received_ = 0;
        }
        // libcurl lets chunks override a Content-Length; a server that sends both must still
        // keep to the length it announced.
        const std::optional<std::uint64_t> length = response_.contentLength();
        totalKnown_ = length.has_value();
        totalLength_ = length.value_or(0);
        // Weak validators do not promise the same bytes: such a file is not continued.
        validator_ = response_.rangeValidator();
    } else if (status != 206 || !rangeAsked_) {
        return true;  // not the file: the body is refused
    } else if (std::optional<std::uint64_t> total = ContinuedTotal()) {
        totalKnown_ = true;
        totalLength_ = *total;
    } else {
        return true;
    }
    tryStarted_ = true;
    transferStarted_ = true;
    progress_ = ProgressState::Begin(options_.ticks(), totalKnown_, totalLength_);
    return true;
}

// The TOTAL of a Content-Range "bytes FIRST-LAST/TOTAL" that starts at the first byte not yet
// written and ends at the end of the file, of the file's length when that is known; nullopt for
// any other.
std::optional<std::uint64_t> CHttpDownload::ContinuedTotal() const {
    const std::optional<HttpResponseHeaders::ByteRange> range = response_.contentRange();
    if (!range || range->first != received_ || range->last < range->first ||
        range->last + 1 != range->total || (totalKnown_ && range->total != totalLength_)) {
        return std::nullopt;
    }
    return range->total;
}

std::size_t CHttpDownload::HandleBody(const char* data, std::size_t length) {
    if (cancel_.load() || pause_.load()) {
        return 0;  // the block in hand is not written
    }
    if (!tryStarted_) {
        if (response_.status() == 401 || response_.status() == 407) {
            return length;  // the refusal's body is read away before asking for a login
        }
        statusRejected_ = true;
        return 0;
    }
    // Nothing past the announced length reaches the file: what follows it is not the file.
    const bool overlong = totalKnown_ && length > totalLength_ - received_;
    const std::size_t kept = overlong ? static_cast<std::size_t>(totalLength_ - received_) : length;
    if (kept > 0 && !WriteBlock(data, kept)) {
        return 0;
    }
    received_ += kept;
    if (ReportProgress(received_, progress_, reporter_.progress(), options_.ticks)) {
        reporter_.show();
    }
    if (overlong) {
        overlong_ = true;
        return 0;
    }
    return length;
}

// A try whose body ran past or ended short of the length its response announced is a broken
// one, never a complete file: its result becomes the failure, with the lengths as its words.
int CHttpDownload::CheckBodyLength(int result) {
    if (!tryStarted_) {
        return result;
    }
    const std::string total = std::to_string(totalLength_);
    if (overlong_) {
        SetCurlError("the server sent more than the " + total + " bytes it announced");
        return CURLE_WEIRD_SERVER_REPLY;
    }
    if (result == CURLE_OK && totalKnown_ && received_ != totalLength_) {
        SetCurlError("the server sent " + std::to_string(received_) + " of the " + total +
                     " bytes it announced");
        return CURLE_PARTIAL_FILE;
    }
    return result;
}

void CHttpDownload::SetCurlError(const std::string& text) {
    const std::size_t length = std::min(text.size(), sizeof curlError_ - 1);
    std::memcpy(curlError_, text.data(), length);
    curlError_[length] = '\0';
}

bool CHttpDownload::WriteBlock(const char* data, std::size_t length) {
    writeError_ = file_.write(data, length);
    return writeError_ == 0;
}

void CHttpDownload::EndTransfer() {
    // One reading of the flag decides the file, the row's word and the outcome.
    bool cancelled = cancel_.load();
    if (cancelled) {
        file_.discard();
    } else if (int error = file_.commit(options_.replaceTarget ? AsideFile::Replace::kAlways
                                                               : AsideFile::Replace::kNever);
               error != 0) {
        // Data that did not reach the disk under the target's name is a failed download, not
        // a finished file; the old target stays.
        Fail(kTransferFailed, error, CallFailed(file_.failedCall(), error),
             FailureCauses::OfErrno(error));
        return;
    }
    DownloadOutcome outcome;
    outcome.kind =
        cancelled ? DownloadOutcome::Kind::kCancelled : DownloadOutcome::Kind::kCompleted;
    reporter_.finish(
        kStateEnded,
        cancelled ? TransferProgress::Stage::kCancelled : TransferProgress::Stage::kComplete,
        outcome);
}

// A try that a pause cut short, rather than one that libcurl finished with success: a body
// complete when the wish came is kept as complete.
bool CHttpDownload::PauseTakesEffect(int result) const {
    return pause_.load() && !(tryDone_ && result == CURLE_OK);
}

// The part written so far stays open aside, and received_ with the validator says where it
// goes on from; nothing reaches the target.
void CHttpDownload::EnterPause() {
    paused_.store(true);
    reporter_.show(kStatePaused, TransferProgress::Stage::kPaused);
    reporter_.host().downloadPaused(&reporter_.record());
}

// A cancel seen before the body: nothing was transferred, so the empty file goes too.
void CHttpDownload::EndQuietly() {
    file_.discard();
    DownloadOutcome outcome;
    outcome.kind = DownloadOutcome::Kind::kCancelled;
    reporter_.finish(kStateIdle, TransferProgress::Stage::kCancelled, outcome);
}

void CHttpDownload::Fail(const char* messageTemplate, long code, std::string detail,
                         FailureCause cause) {
    file_.discard();
    reporter_.fail(messageTemplate, code, std::move(detail), cause);
}

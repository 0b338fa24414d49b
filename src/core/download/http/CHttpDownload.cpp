#include "core/download/http/CHttpDownload.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <string_view>
#include <system_error>

#include "core/detect/DetectedStream.h"
#include "core/download/DownloadHost.h"
#include "core/download/ProgressWords.h"
#include "core/download/http/RecordText.h"
#include "core/download/http/ReportProgress.h"
#include "core/store/StreamList.h"

namespace {

constexpr const char* kFileOpenFailed = "ダウンロードするファイルを開けませんでした。 (%s)";
constexpr const char* kSetupFailed = "ファイルをダウンロード試行中にエラーが発生しました。Error:%d";
constexpr const char* kConnectFailed = "サーバに接続できませんでした。 (%d)";
constexpr const char* kNoResponse = "サーバーから有効な応答を受け取りませんでした。(%d)";
constexpr const char* kBadStatus = "サーバから有効なHTTP応答が返りませんでした。(%d)";
constexpr const char* kTransferFailed = "ダウンロード中にエラーが発生しました。(%d)";


// The message template with its one placeholder ("%d" or "%s") replaced by the code.
std::string FormatMessage(const char* messageTemplate, long code) {
    std::string text = messageTemplate;
    for (const char* placeholder : {"%d", "%s"}) {
        auto at = text.find(placeholder);
        if (at != std::string::npos) {
            return text.replace(at, 2, std::to_string(code));
        }
    }
    return text;
}

void InitCurlOnce() {
    static const CURLcode result = curl_global_init(CURL_GLOBAL_DEFAULT);
    (void)result;
}

// The URL as it will be fetched, or an empty string when it cannot be read as one. A URL
// without a scheme is taken as http.
std::string NormalizeUrl(const std::string& url, std::string& scheme) {
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
    if (rc == CURLUE_OK && curl_url_get(handle, CURLUPART_URL, &text, 0) == CURLUE_OK &&
        curl_url_get(handle, CURLUPART_SCHEME, &schemeText, 0) == CURLUE_OK) {
        result = text;
        scheme = schemeText;
    }
    curl_free(text);
    curl_free(schemeText);
    curl_url_cleanup(handle);
    return result;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) {
        return false;
    }
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        char a = text[i];
        if (a >= 'A' && a <= 'Z') {
            a = static_cast<char>(a - 'A' + 'a');
        }
        if (a != prefix[i]) {
            return false;
        }
    }
    return true;
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r' ||
                             text.back() == '\n')) {
        text.remove_suffix(1);
    }
    return text;
}

// The realm="..." of an authentication challenge, empty when there is none.
std::string RealmOf(std::string_view challenge) {
    auto at = challenge.find("realm=\"");
    if (at == std::string_view::npos) {
        return {};
    }
    challenge.remove_prefix(at + 7);
    auto end = challenge.find('"');
    return std::string(challenge.substr(0, end == std::string_view::npos ? challenge.size() : end));
}

}  // namespace

CHttpDownload::CHttpDownload(DownloadHost& host, HttpDownloadOptions options)
    : host_(host), options_(std::move(options)) {}

CHttpDownload::~CHttpDownload() {
    if (thread_.joinable()) {
        Cancel();
        thread_.join();
    }
    if (multi_ != nullptr) {
        curl_multi_cleanup(multi_);
    }
    if (file_ >= 0) {
        ::close(file_);
    }
}

void CHttpDownload::Cancel() {
    cancel_.store(true);
    if (multi_ != nullptr) {
        curl_multi_wakeup(multi_);
    }
}

void CHttpDownload::ShowMessage(const char* messageTemplate, long code) {
    errorText_ = FormatMessage(messageTemplate, code);
    host_.showMessage(errorText_);
}

int CHttpDownload::Start(DetectedStream* record, const std::string& url,
                         const std::string& targetPath) {
    if (record == nullptr || thread_.joinable() || multi_ != nullptr) {
        return -1;
    }
    if (targetPath.empty()) {
        ShowMessage(kFileOpenFailed, ENOENT);
        return -1;
    }
    InitCurlOnce();
    std::string scheme;
    std::string fetched = url.empty() ? std::string() : NormalizeUrl(url, scheme);
    if (fetched.empty()) {
        ShowMessage(kConnectFailed, CURLE_URL_MALFORMAT);
        return -1;
    }
    // The URL comes from sniffed traffic: never anything but the web.
    if (scheme != "http" && scheme != "https") {
        ShowMessage(kConnectFailed, CURLE_UNSUPPORTED_PROTOCOL);
        return -1;
    }
    record_ = record;
    url_ = fetched;
    targetPath_ = targetPath;

    file_ = ::open(targetPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (file_ < 0) {
        ShowMessage(kFileOpenFailed, errno);
        return -1;
    }
    RememberFileIdentity();
    multi_ = curl_multi_init();
    if (multi_ == nullptr) {
        CloseAndDelete();
        ShowMessage(kSetupFailed, ENOMEM);
        return -1;
    }
    try {
        thread_ = std::thread(&CHttpDownload::Run, this);
    } catch (const std::system_error& error) {
        CloseAndDelete();
        ShowMessage(kSetupFailed, error.code().value());
        return -1;
    }
    return 0;
}

void CHttpDownload::Run() {
    if (cancel_.load()) {
        EndQuietly();
        return;
    }
    CURL* easy = curl_easy_init();
    if (easy == nullptr) {
        Fail(kSetupFailed, ENOMEM);
        return;
    }
    curl_slist* headers = nullptr;
    headers = curl_slist_append(headers, "Cache-Control: no-cache");
    headers = curl_slist_append(headers, "Pragma: no-cache");
    headers = curl_slist_append(headers, "Accept: */*");

    curl_easy_setopt(easy, CURLOPT_URL, url_.c_str());
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(easy, CURLOPT_MAXREDIRS, options_.maxRedirects);
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(easy, CURLOPT_USERAGENT, options_.userAgent.c_str());
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
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

    RunTransfer(easy);

    curl_easy_cleanup(easy);
    curl_slist_free_all(headers);
}

void CHttpDownload::RunTransfer(CURL* easy) {
    bool askedServer = false;
    bool askedProxy = false;
    for (;;) {
        int result = PerformOnce(easy);
        if (cancel_.load()) {
            if (transferStarted_) {
                EndTransfer();
            } else {
                EndQuietly();
            }
            return;
        }
        if (transferStarted_) {
            if (writeError_ != 0) {
                Fail(kTransferFailed, writeError_);
            } else if (result != CURLE_OK) {
                Fail(kTransferFailed, result);
            } else {
                EndTransfer();
            }
            return;
        }
        if (statusRejected_) {
            Fail(kBadStatus, status_);
            return;
        }
        long connectStatus = 0;
        curl_easy_getinfo(easy, CURLINFO_HTTP_CONNECTCODE, &connectStatus);
        long status = connectStatus == 407 ? 407 : status_;
        if (result != CURLE_OK && status != 407) {
            FailBeforeTransfer(easy, result);
            return;
        }
        if (status != 401 && status != 407) {
            Fail(kBadStatus, status);
            return;
        }
        if (!AskLogin(easy, status, askedServer, askedProxy)) {
            Fail(kBadStatus, status);
            return;
        }
        if (cancel_.load()) {
            EndQuietly();
            return;
        }
    }
}

int CHttpDownload::PerformOnce(CURL* easy) {
    status_ = 0;
    headersOpen_ = false;
    statusRejected_ = false;
    realm_.clear();
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
        if (running == 0 || cancel_.load()) {
            break;
        }
        // Woken at once by Cancel through curl_multi_wakeup, even when the server is silent.
        if (curl_multi_poll(multi_, nullptr, 0, 1000, nullptr) != CURLM_OK) {
            result = CURLE_OUT_OF_MEMORY;
            break;
        }
    }
    int left = 0;
    while (CURLMsg* message = curl_multi_info_read(multi_, &left)) {
        if (message->msg == CURLMSG_DONE && message->easy_handle == easy) {
            result = message->data.result;
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
    DownloadHost::Credentials credentials;
    if (!host_.askLogin({status, url_, realm_}, credentials)) {
        return false;
    }
    if (status == 407) {
        curl_easy_setopt(easy, CURLOPT_PROXYUSERNAME, credentials.user.c_str());
        curl_easy_setopt(easy, CURLOPT_PROXYPASSWORD, credentials.password.c_str());
        curl_easy_setopt(easy, CURLOPT_PROXYAUTH, CURLAUTH_ANY);
    } else {
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
    Fail(unreadable ? kNoResponse : kConnectFailed, curlCode);
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
    std::string_view line(data, length);
    if (StartsWithNoCase(line, "http/")) {
        status_ = 0;
        lengthKnown_ = false;
        chunked_ = false;
        contentLength_ = 0;
        headersOpen_ = true;
        auto space = line.find(' ');
        if (space != std::string_view::npos) {
            std::string_view code = line.substr(space + 1, 3);
            std::from_chars(code.data(), code.data() + code.size(), status_);
        }
        return length;
    }
    if (!headersOpen_) {
        return length;
    }
    if (Trim(line).empty()) {
        headersOpen_ = false;
        if (status_ == 200 && !transferStarted_) {
            transferStarted_ = true;
            bool known = lengthKnown_ && !chunked_;
            progress_ = ProgressState::Begin(options_.ticks(), known, contentLength_);
        }
        return length;
    }
    if (StartsWithNoCase(line, "content-length:")) {
        std::string_view value = Trim(line.substr(15));
        std::uint64_t parsed = 0;
        auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), parsed);
        lengthKnown_ = ec == std::errc() && end == value.data() + value.size() && !value.empty();
        contentLength_ = lengthKnown_ ? parsed : 0;
    } else if (StartsWithNoCase(line, "transfer-encoding:")) {
        chunked_ = Trim(line.substr(18)).find("chunked") != std::string_view::npos;
    } else if (StartsWithNoCase(line, "www-authenticate:") ||
               StartsWithNoCase(line, "proxy-authenticate:")) {
        if (realm_.empty()) {
            realm_ = RealmOf(line);
        }
    }
    return length;
}

std::size_t CHttpDownload::HandleBody(const char* data, std::size_t length) {
    if (cancel_.load()) {
        return 0;  // the block in hand is not written
    }
    if (!transferStarted_) {
        if (status_ == 401 || status_ == 407) {
            return length;  // the refusal's body is read away before asking for a login
        }
        statusRejected_ = true;
        return 0;
    }
    if (!WriteBlock(data, length)) {
        return 0;
    }
    received_ += length;
    ReportProgress(received_, progress_, *record_, options_.ticks);
    return length;
}

bool CHttpDownload::WriteBlock(const char* data, std::size_t length) {
    while (length > 0) {
        ssize_t written = ::write(file_, data, length);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            writeError_ = errno != 0 ? errno : EIO;
            return false;
        }
        data += written;
        length -= static_cast<std::size_t>(written);
    }
    return true;
}

// Only a regular file that is still the one written here is deleted: a target such as
// /dev/null or a pipe, or a file put in its place meanwhile, is left alone.
void CHttpDownload::RememberFileIdentity() {
    struct stat info {};
    deletable_ = ::fstat(file_, &info) == 0 && S_ISREG(info.st_mode);
    fileDevice_ = info.st_dev;
    fileInode_ = info.st_ino;
}

void CHttpDownload::CloseAndDelete() {
    if (file_ >= 0) {
        ::close(file_);
        file_ = -1;
    }
    struct stat info {};
    if (deletable_ && ::lstat(targetPath_.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
        info.st_dev == fileDevice_ && info.st_ino == fileInode_) {
        ::unlink(targetPath_.c_str());
    }
    deletable_ = false;
}

void CHttpDownload::RefreshRow() {
    if (record_->ownerList != nullptr) {
        record_->ownerList->AddOrUpdateStream(record_, 1);
    }
}

void CHttpDownload::EndTransfer() {
    bool cancelled = cancel_.load();
    if (cancelled) {
        CloseAndDelete();
    } else {
        int closed = ::close(file_);
        file_ = -1;
        // Data that did not reach the disk is a failed write, not a finished file.
        if (closed != 0 && errno != EINTR) {
            Fail(kTransferFailed, errno);
            return;
        }
    }
    StoreDownloadState(*record_, kStateEnded);
    SetRecordText(record_->progressText, cancelled ? ProgressWords::kCancel : ProgressWords::kComplete);
    RefreshRow();
    DownloadOutcome outcome;
    outcome.kind = cancelled ? DownloadOutcome::Kind::kCancelled : DownloadOutcome::Kind::kCompleted;
    host_.downloadEnded(record_, outcome);
}

// A cancel seen before the body: nothing was transferred, so the empty file goes too.
void CHttpDownload::EndQuietly() {
    CloseAndDelete();
    StoreDownloadState(*record_, kStateIdle);
    SetRecordText(record_->progressText, ProgressWords::kCancel);
    RefreshRow();
    DownloadOutcome outcome;
    outcome.kind = DownloadOutcome::Kind::kCancelled;
    host_.downloadEnded(record_, outcome);
}

void CHttpDownload::Fail(const char* messageTemplate, long code) {
    CloseAndDelete();
    ShowMessage(messageTemplate, code);
    StoreDownloadState(*record_, kStateIdle);
    if (std::strcmp(record_->progressText, ProgressWords::kConnecting) == 0) {
        SetRecordText(record_->progressText, ProgressWords::kFailed);
    }
    RefreshRow();
    DownloadOutcome outcome;
    outcome.code = code;
    outcome.message = errorText_;
    host_.downloadEnded(record_, outcome);
}

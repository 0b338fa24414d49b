#include "core/download/mms/CMmsDownload.h"

#include <fcntl.h>
#include <netdb.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string_view>
#include <system_error>

#include "core/detect/DetectedStream.h"
#include "core/download/DownloadHost.h"
#include "core/download/ProgressWords.h"
#include "core/download/http/ProgressState.h"
#include "core/download/http/RecordText.h"
#include "core/download/http/ReportProgress.h"
#include "core/download/mms/CMmsClient.h"
#include "core/download/mms/MmsServerAddress.h"
#include "core/store/StreamList.h"

namespace {

std::string WithCode(const char* format, int code) {
    std::string text(format);
    if (std::size_t at = text.find("%d"); at != std::string::npos) {
        text.replace(at, 2, std::to_string(code));
    }
    return text;
}

// The selected adapter's physical-address bytes as they stand, up to the first zero byte.
std::string ClientIdentifier(const DetectedStream& record) {
    const auto* bytes = reinterpret_cast<const char*>(record.adapterInfo);
    std::size_t length = 0;
    while (length < DetectedStream::kAdapterInfoSize && bytes[length] != 0) {
        ++length;
    }
    return std::string(bytes, length);
}

}  // namespace

CMmsDownload::CMmsDownload(DownloadHost& host, TickSource ticks)
    : host_(host), ticks_(std::move(ticks)) {}

CMmsDownload::~CMmsDownload() {
    Cancel();
    if (thread_.joinable()) {
        thread_.join();
    }
}

void CMmsDownload::Start(DetectedStream* record, const std::string& path,
                         const std::string& localFile) {
    if (record == nullptr || thread_.joinable()) {
        return;
    }
    record_ = record;
    ownerList_ = record->ownerList;
    path_ = path;
    localFile_ = localFile;
    try {
        thread_ = std::thread([this] { Run(); });
    } catch (const std::system_error& error) {
        ReportError(kTryFailedText, error.code().value(), false);
    }
}

void CMmsDownload::Cancel() {
    cancel_ = true;
    std::lock_guard lock(mutex_);
    if (socket_ >= 0) {
        // Wakes a receive or connect that is waiting on a silent server.
        ::shutdown(socket_, SHUT_RDWR);
    }
}

std::string CMmsDownload::errorText() const {
    std::lock_guard lock(mutex_);
    return errorText_;
}

void CMmsDownload::Run() {
    // An empty path or file name could never succeed; say so instead of leaving the row waiting.
    if (path_.empty() || localFile_.empty()) {
        ReportError(kTryFailedText, EINVAL, false);
        return;
    }
    // The host text comes from traffic and may fill its field without a terminator.
    auto address = MmsServerAddress::FromHost(
        std::string_view(record_->host, ::strnlen(record_->host, sizeof record_->host)));
    if (!address) {
        ReportError(kConnectFailedText, EINVAL, false);
        return;
    }
    if (!OpenFile() || !Connect(*address)) {
        return;
    }
    Transfer(*address);
}

bool CMmsDownload::OpenFile() {
    file_ = ::open(localFile_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (file_ < 0) {
        // Nothing was created, so nothing of the user's may be deleted.
        ReportError(kTryFailedText, errno, false);
        return false;
    }
    return true;
}

void CMmsDownload::CloseFile() {
    if (file_ >= 0) {
        ::close(file_);
        file_ = -1;
    }
}

void CMmsDownload::PublishSocket(int fd) {
    std::lock_guard lock(mutex_);
    socket_ = fd;
}

void CMmsDownload::CloseSocket() {
    std::lock_guard lock(mutex_);
    if (socket_ >= 0) {
        ::close(socket_);
        socket_ = -1;
    }
}

bool CMmsDownload::Connect(const MmsServerAddress& address) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const std::string port = std::to_string(address.port);
    int lookup = ::getaddrinfo(address.name.c_str(), port.c_str(), &hints, &found);
    if (cancel_) {
        if (found != nullptr) {
            ::freeaddrinfo(found);
        }
        EndTransfer();
        return false;
    }
    if (lookup != 0) {
        ReportError(kConnectFailedText, lookup == EAI_SYSTEM ? errno : lookup);
        return false;
    }
    int lastError = 0;
    bool socketMade = false;
    for (addrinfo* entry = found; entry != nullptr && !cancel_; entry = entry->ai_next) {
        int fd = ::socket(entry->ai_family, entry->ai_socktype | SOCK_CLOEXEC, entry->ai_protocol);
        if (fd < 0) {
            lastError = errno;
            continue;
        }
        socketMade = true;
        PublishSocket(fd);
        // A cancel that came before the socket was published would otherwise be missed.
        if (!cancel_ && ::connect(fd, entry->ai_addr, entry->ai_addrlen) == 0) {
            ::freeaddrinfo(found);
            return true;
        }
        lastError = errno;
        CloseSocket();
    }
    ::freeaddrinfo(found);
    if (cancel_) {
        EndTransfer();
    } else {
        ReportError(socketMade ? kConnectFailedText : kTryFailedText, lastError);
    }
    return false;
}

void CMmsDownload::Transfer(const MmsServerAddress& address) {
    CMmsClient client(socket_, file_);
    CMmsClient::Opened opened = client.OpenStream(ClientIdentifier(*record_), address.name, path_);
    if (opened.packetSize == 0) {
        if (cancel_) {
            EndTransfer();
        } else {
            ReportError(kDownloadFailedText, client.errorCode());
        }
        return;
    }
    std::uint64_t total = opened.headerLength;
    ProgressState progress =
        ProgressState::Begin(ticks_(), client.fileSize() != 0, client.fileSize());
    for (;;) {
        int result = client.ReadPacket(opened.packetSize);
        if (result >= 0) {
            total += static_cast<std::uint64_t>(result);
            ReportProgress(total, progress, *record_, ticks_);
        }
        if (cancel_) {
            break;
        }
        if (result == CMmsClient::kEndOfStream) {
            break;
        }
        if (result < 0) {
            ReportError(kDownloadFailedText, client.errorCode());
            return;
        }
    }
    // The last packets reach the file here; losing them is a failure, unless cancelled.
    if (!client.Flush() && !cancel_) {
        ReportError(kDownloadFailedText, client.errorCode());
        return;
    }
    EndTransfer();
}

// The normal end: the server's end of stream or a cancel. The file stays on disk.
void CMmsDownload::EndTransfer() {
    CloseSocket();
    CloseFile();
    Finish(kStateEnded, cancel_ ? ProgressWords::kCancel : ProgressWords::kComplete);
}

void CMmsDownload::ReportError(const char* format, int code, bool deleteFile) {
    std::string text = WithCode(format, code);
    {
        std::lock_guard lock(mutex_);
        errorText_ = text;
    }
    CloseSocket();
    CloseFile();
    // Only a file of ours goes: a device or other special file chosen as target stays.
    struct stat target {};
    if (deleteFile && !localFile_.empty() && ::stat(localFile_.c_str(), &target) == 0 &&
        S_ISREG(target.st_mode)) {
        ::unlink(localFile_.c_str());
    }
    host_.showMessage(text);
    // A row that never got further than "connecting" must not keep claiming it.
    const bool stillConnecting = std::strcmp(record_->progressText, ProgressWords::kConnecting) == 0;
    Finish(kStateIdle, stillConnecting ? ProgressWords::kFailed : nullptr);
}

void CMmsDownload::Finish(std::int32_t state, const char* progressText) {
    StoreDownloadState(*record_, state);
    if (progressText != nullptr) {
        SetRecordText(record_->progressText, progressText);
    }
    if (ownerList_ != nullptr) {
        ownerList_->AddOrUpdateStream(record_, 1);
    }
    DownloadOutcome outcome;
    if (state == kStateEnded) {
        outcome.kind = cancel_.load() ? DownloadOutcome::Kind::kCancelled
                                      : DownloadOutcome::Kind::kCompleted;
    } else {
        outcome.message = errorText();
    }
    host_.downloadEnded(record_, outcome);
}

#include "core/download/mms/CMmsDownload.h"

#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string_view>
#include <system_error>

#include "core/detect/DetectedStream.h"
#include "core/download/DownloadHost.h"
#include "core/download/DownloadMessages.h"
#include "core/download/common/ProgressState.h"
#include "core/download/common/ReportProgress.h"
#include "core/download/mms/CMmsClient.h"
#include "core/download/mms/MmsServerAddress.h"

namespace {

// The selected adapter's physical-address bytes as they stand, up to the first zero byte.
std::string ClientIdentifier(const DetectedStream& record) {
    const auto* bytes = reinterpret_cast<const char*>(record.adapterInfo);
    std::size_t length = 0;
    while (length < DetectedStream::kAdapterInfoSize && bytes[length] != 0) {
        ++length;
    }
    return std::string(bytes, length);
}

std::string CallFailed(const char* call, int code) {
    return std::string(call) + ": " + std::strerror(code);
}

}  // namespace

CMmsDownload::CMmsDownload(DownloadHost& host, TickSource ticks)
    : reporter_(host), ticks_(std::move(ticks)) {}

CMmsDownload::~CMmsDownload() {
    Cancel();
    if (thread_.joinable()) {
        thread_.join();
    }
}

StartResult CMmsDownload::Start(DetectedStream* record, const std::string& path,
                                const std::string& localFile) {
    if (record == nullptr || reporter_.attached()) {
        return StartResult::kRefused;
    }
    reporter_.attach(*record);
    // The host text comes from traffic and may fill its field without a terminator.
    serverName_.assign(record->host, ::strnlen(record->host, sizeof record->host));
    clientId_ = ClientIdentifier(*record);
    path_ = path;
    localFile_ = localFile;
    try {
        thread_ = std::thread([this] { Run(); });
    } catch (const std::system_error& error) {
        reporter_.tell(DownloadMessages::kSetupFailed, error.code().value());
        return StartResult::kNoResources;
    }
    return StartResult::kStarted;
}

void CMmsDownload::Cancel() {
    cancel_.store(true);
    std::lock_guard lock(mutex_);
    if (socket_ >= 0) {
        // Wakes a receive or connect that is waiting on a silent server.
        ::shutdown(socket_, SHUT_RDWR);
    }
}

std::string CMmsDownload::ErrorText() const {
    return reporter_.errorText();
}

void CMmsDownload::Run() {
    // An empty path or file name could never succeed; say so instead of leaving the row waiting.
    if (path_.empty() || localFile_.empty()) {
        ReportError(DownloadMessages::kSetupFailed, EINVAL,
                    path_.empty() ? "no path to ask the server for" : "no local file to write",
                    FailureCause::kUnknown);
        return;
    }
    auto address = MmsServerAddress::FromHost(serverName_);
    if (!address) {
        ReportError(DownloadMessages::kConnectFailed, EINVAL, "the URL names no MMS server",
                    FailureCause::kBadUrl);
        return;
    }
    if (!OpenFile() || !Connect(*address)) {
        return;
    }
    Transfer(*address);
}

bool CMmsDownload::OpenFile() {
    if (int error = file_.open(localFile_, 0666); error != 0) {
        ReportError(DownloadMessages::kSetupFailed, error, CallFailed(file_.failedCall(), error),
                    FailureCauses::OfErrno(error));
        return false;
    }
    return true;
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
    const int lookupErrno = errno;
    if (cancel_.load()) {
        if (found != nullptr) {
            ::freeaddrinfo(found);
        }
        EndTransfer();
        return false;
    }
    if (lookup != 0) {
        // The server's name is not repeated here: it comes from traffic.
        std::string detail = lookup == EAI_SYSTEM
                                 ? CallFailed("looking up the server", lookupErrno)
                                 : std::string("looking up the server: ") + ::gai_strerror(lookup);
        ReportError(DownloadMessages::kConnectFailed, lookup == EAI_SYSTEM ? lookupErrno : lookup,
                    std::move(detail), FailureCause::kNameNotResolved);
        return false;
    }
    int lastError = 0;
    const char* lastCall = "socket";
    bool socketMade = false;
    for (addrinfo* entry = found; entry != nullptr && !cancel_.load(); entry = entry->ai_next) {
        int fd = ::socket(entry->ai_family, entry->ai_socktype | SOCK_CLOEXEC, entry->ai_protocol);
        if (fd < 0) {
            lastError = errno;
            lastCall = "socket";
            continue;
        }
        socketMade = true;
        lastCall = "connect";
        PublishSocket(fd);
        // A cancel that came before the socket was published would otherwise be missed.
        if (!cancel_.load() && ::connect(fd, entry->ai_addr, entry->ai_addrlen) == 0) {
            ::freeaddrinfo(found);
            return true;
        }
        lastError = errno;
        CloseSocket();
    }
    ::freeaddrinfo(found);
    if (cancel_.load()) {
        EndTransfer();
    } else {
        ReportError(socketMade ? DownloadMessages::kConnectFailed : DownloadMessages::kSetupFailed,
                    lastError, CallFailed(lastCall, lastError),
                    socketMade ? FailureCauses::OfErrno(lastError) : FailureCause::kUnknown);
    }
    return false;
}

void CMmsDownload::Transfer(const MmsServerAddress& address) {
    CMmsClient client(socket_, file_.fd());
    CMmsClient::Opened opened = client.OpenStream(clientId_, address.name, path_);
    if (opened.packetSize == 0) {
        if (cancel_.load()) {
            EndTransfer();
        } else {
            ReportError(DownloadMessages::kTransferFailed, client.ErrorCode(),
                        "opening the stream: " + client.ErrorDetail(),
                        FailureCauses::OfErrno(client.ErrorCode()));
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
            if (ReportProgress(total, progress, reporter_.progress(), ticks_)) {
                reporter_.show();
            }
        }
        if (cancel_.load() || result == CMmsClient::kEndOfStream) {
            break;
        }
        if (result < 0) {
            // A server that closes before the next packet has cut the transfer short.
            ReportError(DownloadMessages::kTransferFailed, client.ErrorCode(),
                        "MMS error " + std::to_string(result) + ": " + client.ErrorDetail(),
                        result == CMmsClient::kPrefixFailed
                            ? FailureCause::kTransferCut
                            : FailureCauses::OfErrno(client.ErrorCode()));
            return;
        }
    }
    // The last packets reach the file here; losing them is a failure, unless cancelled.
    if (!client.Flush() && !cancel_.load()) {
        ReportError(DownloadMessages::kTransferFailed, client.ErrorCode(), client.ErrorDetail(),
                    FailureCauses::OfErrno(client.ErrorCode()));
        return;
    }
    EndTransfer();
}

// The normal end: the server's end of stream or a cancel. The file takes the target's name.
void CMmsDownload::EndTransfer() {
    CloseSocket();
    // One reading of the flag decides the file, the row's word and the outcome.
    const bool cancelled = cancel_.load();
    if (int error = KeepFile(cancelled); error != 0 && !cancelled) {
        ReportError(DownloadMessages::kTransferFailed, error, CallFailed(file_.failedCall(), error),
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

// A cancel keeps its partial file too, unless nothing arrived and a file has the target's name
// already: an empty file never replaces one of the user's, nor does a file whose free name
// another took meanwhile.
int CMmsDownload::KeepFile(bool cancelled) {
    if (!file_.isOpen()) {
        return 0;
    }
    const bool replace = replaceTarget_ && (!cancelled || file_.holdsData());
    return file_.commit(replace ? AsideFile::Replace::kAlways : AsideFile::Replace::kNever);
}

void CMmsDownload::ReportError(const char* messageTemplate, int code, std::string detail,
                               FailureCause cause) {
    CloseSocket();
    // Only the file written aside goes; the target stays as it was.
    file_.discard();
    reporter_.fail(messageTemplate, code, std::move(detail), cause);
}

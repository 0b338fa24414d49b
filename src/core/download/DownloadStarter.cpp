#include "core/download/DownloadStarter.h"

#include <cerrno>

#include "core/detect/DetectedStream.h"
#include "core/download/DownloadHost.h"
#include "core/download/DownloadMessages.h"
#include "core/download/common/RecordText.h"
#include "core/download/http/CHttpDownload.h"
#include "core/download/mms/CMmsDownload.h"
#include "core/download/record/CRecordDownload.h"

namespace {

std::string_view FieldText(const char* field, std::size_t capacity) {
    std::size_t length = 0;
    while (length < capacity && field[length] != '\0') {
        ++length;
    }
    return {field, length};
}

}  // namespace

DownloadStarter::DownloadStarter(DownloadHost& host, HttpDownloadOptions httpOptions)
    : host_(host), httpOptions_(std::move(httpOptions)) {}

bool DownloadStarter::IsHttpScheme(std::string_view scheme) {
    return scheme == "http" || scheme == "https";
}

bool DownloadStarter::IsMmsScheme(std::string_view scheme) {
    return scheme.starts_with("mms");
}

// The full chosen path goes to the worker, so nothing depends on the current directory. The
// worker reports every failure itself and always ends through the host.
std::unique_ptr<DownloadWorker> DownloadStarter::StartMms(DetectedStream& record,
                                                          const std::string& targetPath) {
    if (RefuseLongPath(record, targetPath)) {
        return nullptr;
    }
    auto download = std::make_unique<CMmsDownload>(host_);
    download->SetReplaceTarget(httpOptions_.replaceTarget);
    Prepare(record, targetPath);
    // The server is asked for the path with its query, as the URL names it.
    std::string path(FieldText(record.path, sizeof record.path));
    path += FieldText(record.query, sizeof record.query);
    if (download->Start(&record, path, targetPath) != StartResult::kStarted) {
        Unprepare(record);
        return nullptr;
    }
    return download;
}

std::string DownloadStarter::UrlOf(const DetectedStream& record) {
    std::string url(FieldText(record.host, sizeof record.host));
    url += FieldText(record.path, sizeof record.path);
    url += FieldText(record.query, sizeof record.query);
    return url;
}

std::unique_ptr<DownloadWorker> DownloadStarter::Start(DetectedStream& record,
                                                       const std::string& targetPath) {
    std::string_view scheme = FieldText(record.scheme, sizeof record.scheme);
    if (RecordKind kind = RecordKindOf(record); kind != RecordKind::kNone) {
        return StartRecord(record, targetPath, kind);
    }
    if (IsHttpScheme(scheme)) {
        return StartHttp(record, targetPath);
    }
    if (IsMmsScheme(scheme)) {
        return StartMms(record, targetPath);
    }
    return nullptr;
}

std::unique_ptr<DownloadWorker> DownloadStarter::StartHttp(DetectedStream& record,
                                                           const std::string& targetPath) {
    if (RefuseLongPath(record, targetPath)) {
        return nullptr;
    }
    auto download = std::make_unique<CHttpDownload>(host_, httpOptions_);
    Prepare(record, targetPath);
    if (download->Start(&record, UrlOf(record), targetPath) != StartResult::kStarted) {
        Unprepare(record);
        return nullptr;
    }
    return download;
}

RecordKind DownloadStarter::RecordKindOf(const DetectedStream& record) {
    std::string_view scheme = FieldText(record.scheme, sizeof record.scheme);
    if (!IsHttpScheme(scheme) && scheme != "rtsp") {
        return RecordKind::kNone;
    }
    return RecordKinds::OfUrl(scheme, FieldText(record.path, sizeof record.path));
}

// A detected row's host may lack the scheme ("example.com" of a Host header); the media
// library needs it written out.
std::string DownloadStarter::FullUrlOf(const DetectedStream& record) {
    std::string url = UrlOf(record);
    if (url.find("://") == std::string::npos) {
        url = std::string(FieldText(record.scheme, sizeof record.scheme)) + "://" + url;
    }
    return url;
}

std::unique_ptr<DownloadWorker> DownloadStarter::StartRecord(DetectedStream& record,
                                                             const std::string& targetPath,
                                                             RecordKind kind) {
    if (RefuseLongPath(record, targetPath)) {
        return nullptr;
    }
    auto download = std::make_unique<CRecordDownload>(host_, kind, httpOptions_);
    Prepare(record, targetPath);
    if (download->Start(&record, FullUrlOf(record), targetPath) != StartResult::kStarted) {
        Unprepare(record);
        return nullptr;
    }
    return download;
}

bool DownloadStarter::Downloadable(const DetectedStream& record) {
    std::string_view scheme = FieldText(record.scheme, sizeof record.scheme);
    return RecordKindOf(record) != RecordKind::kNone || IsHttpScheme(scheme) || IsMmsScheme(scheme);
}

bool DownloadStarter::Queue(DetectedStream& record, const std::string& targetPath) {
    if (!Downloadable(record) || RefuseLongPath(record, targetPath)) {
        return false;
    }
    SetRecordText(record.localFile, targetPath);
    StoreDownloadState(record, kStateWaiting);
    Show(record, TransferProgress::Stage::kWaiting);
    return true;
}

void DownloadStarter::Prepare(DetectedStream& record, std::string_view localFile) {
    SetRecordText(record.localFile, localFile);
    // The state is set before the refresh so that the row never shows "接続中..." as idle.
    StoreDownloadState(record, kStateDownloading);
    Show(record, TransferProgress::Stage::kConnecting);
}

void DownloadStarter::Unprepare(DetectedStream& record) {
    StoreDownloadState(record, kStateIdle);
    Show(record, TransferProgress::Stage::kNone);
}

void DownloadStarter::Show(const DetectedStream& record, TransferProgress::Stage stage) {
    TransferProgress progress;
    progress.stage = stage;
    host_.showTransfer(record, progress);
}

// A cut path would name another file than the one chosen, so it is refused instead.
bool DownloadStarter::RefuseLongPath(const DetectedStream& record, std::string_view localFile) {
    if (FitsRecordText(record.localFile, localFile)) {
        return false;
    }
    host_.showMessage(DownloadMessages::Fill(DownloadMessages::kFileOpenFailed, ENAMETOOLONG));
    return true;
}

#include "core/session/SessionFileLoader.h"

#include <sys/stat.h>

#include <new>
#include <vector>

#include "core/capture/CaptureFileReader.h"
#include "core/capture/PcapngSecrets.h"
#include "core/download/TransferProgress.h"
#include "core/session/MonitorSession.h"
#include "core/store/StreamListReader.h"
#include "core/tls/KeyLogFile.h"

namespace {

// How often the reading thread tells its progress and looks for a stop, in packets or records.
constexpr std::uint64_t kProgressEvery = 4096;

std::uint64_t countAdded(const std::vector<MonitorSession::Detection>& detections) {
    std::uint64_t added = 0;
    for (const MonitorSession::Detection& detection : detections) {
        added += detection.added ? 1 : 0;
    }
    return added;
}

// A download the list kept is shown as it was when it ended.
void ShowKeptDownload(MonitorSession& session, const DetectedStream& record) {
    if (record.state == kStateEnded) {
        TransferProgress progress;
        progress.stage = TransferProgress::Stage::kComplete;
        session.showTransfer(record, progress);
    }
}

}  // namespace

SessionFileLoader::SessionFileLoader(MonitorSession& session, std::string path,
                                     StreamListFile::Kind kind)
    : session_(session), path_(std::move(path)), kind_(kind) {
    struct stat info {};
    if (::stat(path_.c_str(), &info) == 0 && info.st_size > 0) {
        bytesTotal_ = static_cast<std::uint64_t>(info.st_size);
    }
}

SessionFileLoader::~SessionFileLoader() {
    stop();
}

void SessionFileLoader::start() {
    if (!thread_.joinable() && !finished()) {
        thread_ = std::thread([this] { run(); });
    }
}

void SessionFileLoader::stop() {
    stopRequested_.store(true);
    if (thread_.joinable()) {
        thread_.join();
    }
}

void SessionFileLoader::run() {
    const bool capture =
        kind_ == StreamListFile::Kind::Pcap || kind_ == StreamListFile::Kind::Pcapng;
    try {
        if (capture) {
            readCapture();
        } else {
            readList();
        }
    } catch (const std::bad_alloc&) {
        result_.failed = true;
        result_.error = "メモリが足りません";
    }
    if (capture) {
        finishSecure();
    }
    result_.stopped = stopRequested_.load();
    bytesDone_.store(bytesTotal_, std::memory_order_relaxed);
    finished_.store(true, std::memory_order_release);
}

void SessionFileLoader::readList() {
    StreamListReader reader;
    if (!reader.open(path_, kind_)) {
        result_.failed = true;
        result_.error = reader.error();
        return;
    }
    DetectedStream record;
    for (std::uint64_t count = 1; !stopRequested_.load(std::memory_order_relaxed); ++count) {
        const StreamListReader::Status status = reader.next(record);
        if (status == StreamListReader::Status::End) {
            return;
        }
        if (status == StreamListReader::Status::Error) {
            result_.failed = true;
            result_.error = reader.error();
            return;
        }
        if (status == StreamListReader::Status::Skipped) {
            if (result_.skipped++ == 0) {
                result_.firstSkippedLine = reader.line();
                result_.error = reader.error();
            }
        } else {
            const int before = session_.rowCount();
            if (session_.addStream(record) >= before) {
                ++result_.rowsAdded;
                ShowKeptDownload(session_, record);
            }
        }
        if (count % kProgressEvery == 0) {
            bytesDone_.store(reader.bytesRead(), std::memory_order_relaxed);
        }
    }
}

void SessionFileLoader::readCapture() {
    CaptureFileReader reader;
    if (!reader.open(path_)) {
        result_.failed = true;
        result_.error = reader.error();
        return;
    }
    session_.setKeyLog(readSecrets());
    const WatchedPorts ports = session_.watchedPorts();
    // TLS connections are read in file order on this thread; frames the decoder would reject
    // at once are not even copied.
    reader.setFilter([this, &ports](const std::uint8_t* datagram, std::uint32_t length) {
        if (session_.readSecure(datagram, length, 0)) {
            readSecure_ = true;
            return false;
        }
        return StreamDecoder::worthDecoding(datagram, length, ports);
    });
    std::vector<CapturedPacket> packets(MonitorSession::kFeedBatch);
    std::vector<MonitorSession::Detection> detections;
    std::uint64_t fed = 0;
    bool more = true;
    while (more && !stopRequested_.load(std::memory_order_relaxed)) {
        std::size_t read = 0;
        const auto status = reader.nextBatch(packets, read);
        more = status == CaptureFileReader::Status::Packet;
        session_.feed(std::span(packets.data(), read), detections);
        session_.addSecureFound(detections);
        result_.rowsAdded += countAdded(detections);
        if (status == CaptureFileReader::Status::Error) {
            // What was read up to the damage stays listed.
            result_.failed = true;
            result_.error = reader.error();
        }
        fed += read;
        if (fed >= kProgressEvery) {
            fed = 0;
            bytesDone_.store(reader.bytesRead(), std::memory_order_relaxed);
        }
    }
}

std::shared_ptr<KeyLog> SessionFileLoader::readSecrets() {
    auto keys = std::make_shared<KeyLog>();
    const std::string& keyLogPath = session_.keyLogPath();
    if (!keyLogPath.empty()) {
        const KeyLogFile::Result read = KeyLogFile::readWhole(keyLogPath, *keys);
        if (read.status != KeyLogFile::Status::Read) {
            result_.keyLogError =
                "鍵ログ ファイル " + keyLogPath + " を読めません: " +
                (read.status == KeyLogFile::Status::Missing ? "ファイルがありません" : read.detail);
        }
    }
    // A pcapng file may carry its connections' secrets itself. Damage or a read error is for
    // the packet reader to report.
    PcapngSecrets::read(path_, *keys);
    return keys;
}

void SessionFileLoader::finishSecure() {
    try {
        session_.finishSecure();
        std::vector<MonitorSession::Detection> detections;
        session_.addSecureFound(detections);
        result_.rowsAdded += countAdded(detections);
        // Without a datagram on a TLS port the session's summary is an earlier reading's.
        if (readSecure_) {
            result_.secure = session_.secureSummary();
        }
    } catch (const std::bad_alloc&) {
        result_.failed = true;
        result_.error = "メモリが足りません";
    }
    // The secrets are this reading's alone.
    session_.setKeyLog(nullptr);
}

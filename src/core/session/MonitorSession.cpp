#include "core/session/MonitorSession.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <new>
#include <utility>

#include "core/download/DownloadMessages.h"
#include "core/download/DownloadStarter.h"
#include "core/file/FreeFileName.h"
#include "core/session/HelperCaptureFactory.h"
#include "core/session/SessionDownload.h"

namespace {

// From this many rows on, the list's index no longer fits the caches and prefetching pays.
constexpr int kPrefetchFrom = 1 << 16;

// How often a followed key log is read and waiting connections are looked at while capturing.
constexpr std::uint64_t kKeyLogMicros = 100'000;

std::uint64_t monotonicMicros() {
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                          std::chrono::steady_clock::now().time_since_epoch())
                                          .count());
}

// Where each thread's decoder puts the header fields and a host it makes: it stays in that
// core's cache, and only the packed copy moves on.
DetectedStream& decodingHead() {
    thread_local DetectedStream head;
    return head;
}

}  // namespace

const DetectedStream& MonitorSession::Detection::record() const {
    thread_local DetectedStream unpacked;
    packed->unpack(unpacked);
    return unpacked;
}

MonitorSession::MonitorSession(SessionCallbacks callbacks,
                               std::unique_ptr<CaptureFactory> captureFactory)
    : callbacks_(std::move(callbacks)),
      captureFactory_(captureFactory ? std::move(captureFactory)
                                     : std::make_unique<HelperCaptureFactory>()) {
    changes_ = std::make_shared<StoreChangeQueue>([this] {
        if (callbacks_.rowsChanged) {
            callbacks_.rowsChanged();
        }
    });
    store_.addObserver(changes_);
}

MonitorSession::~MonitorSession() {
    shutdown();
    store_.removeObserver(changes_.get());
}

void MonitorSession::setSuffixTable(std::shared_ptr<const SuffixTable> table) {
    decoder_.setSuffixTable(std::move(table));
}

std::shared_ptr<const SuffixTable> MonitorSession::suffixTable() const {
    return decoder_.suffixTable();
}

void MonitorSession::setWatchedPorts(const WatchedPorts& ports) {
    watchedPorts_ = ports;
    // The capture thread reads the decoder's ports without a lock: never changed under it.
    if (capture_ == nullptr) {
        decoder_.setWatchedPorts(ports);
    }
}

// ---- live capture ---------------------------------------------------------------------------

bool MonitorSession::start(const AdapterEntry& adapter) {
    if (capture_ != nullptr || closed_.load()) {
        return false;
    }
    capture_ = captureFactory_->Create(*this);
    if (capture_ == nullptr) {
        return false;
    }
    adapter_ = adapter;
    captureRun_.fetch_add(1);
    // The detector keeps this snapshot of the entry until the next start.
    decoder_.setAdapter(std::make_shared<const AdapterEntry>(adapter));
    // Set before the capture thread exists, which then only reads them.
    decoder_.setWatchedPorts(watchedPorts_);
    capture_->SetWatchedPorts(watchedPorts_);
    capture_->SetTlsPorts(tlsPorts_);
    // Encrypted connections are read, and counted, anew from each start.
    secure_.reset();
    {
        std::lock_guard lock(secureMutex_);
        secureSummary_ = {};
    }
    keyLogFile_.reset();
    if (!keyLogPath_.empty()) {
        if (!keyLog_) {
            keyLog_ = std::make_shared<KeyLog>();
        }
        keyLogFile_ = std::make_unique<KeyLogFile>(keyLogPath_);
    }
    capture_->Start(adapter);
    return true;
}

void MonitorSession::stop() {
    if (capture_ != nullptr) {
        capture_->Stop();
        // The capture thread is gone: the key log is read a last time, connections that
        // waited for keys are read or given up, and what was found last is listed now.
        if (secure_) {
            followKeyLog(monotonicMicros(), true);
            finishSecure();
            addSecureFound(capturedDetections_);
        }
        addCaptured();
        lastStatistics_ = capture_->LastStatistics();
        capture_.reset();
    }
}

CaptureStatus MonitorSession::captureStatus() const {
    return capture_ != nullptr ? capture_->Status() : CaptureStatus{};
}

CPacketCapture::Statistics MonitorSession::captureStatistics() const {
    return capture_ != nullptr ? capture_->LastStatistics() : lastStatistics_;
}

// Capture thread: decoded at once, listed a few at a time so that their lookups in a large
// list overlap; the capture passes the last few on before it waits for more (OnPacketBatchEnd).
// Only the news queue wakes the front end.
void MonitorSession::OnCapturedPacket(const CapturedPacket* packet) {
    if (packet != nullptr) {
        takeCaptured(packet->data, packet->length);
    }
}

void MonitorSession::OnLargeDatagram(const std::uint8_t* datagram, std::uint32_t length) {
    takeCaptured(datagram, length);
}

void MonitorSession::takeCaptured(const std::uint8_t* datagram, std::uint32_t length) {
    if (closed_.load(std::memory_order_relaxed)) {
        return;
    }
    try {
        if (readSecure(datagram, length, monotonicMicros())) {
            return;  // listed with the batch
        }
        if (captured_.keys.size() < kFeedBatch) {
            captured_.restart(kFeedBatch);
        }
        StreamFields fields;
        // The detector reads no more of a datagram than a packet holds.
        decodeOne(datagram, std::min(length, CapturedPacket::kCapacity), captured_, fields);
    } catch (const std::bad_alloc&) {
        // Running out of memory must not end the capture thread (or the program): the
        // packet's stream counts as dropped and the capture goes on.
        store_.countDropped();
        return;
    }
    if (captured_.count == kFeedBatch) {
        addCaptured();
    }
}

void MonitorSession::OnPacketBatchEnd() {
    if (secure_) {
        try {
            followKeyLog(monotonicMicros(), false);
        } catch (const std::bad_alloc&) {
            store_.countDropped();
        }
    }
    addCaptured();
}

// Keys a browser writes after a short connection's last packet are read here, and what they
// open is listed, when no packet comes to do it.
void MonitorSession::OnIdle() {
    if (secure_ && !closed_.load(std::memory_order_relaxed)) {
        try {
            followKeyLog(monotonicMicros(), false);
        } catch (const std::bad_alloc&) {
            store_.countDropped();
        }
        addCaptured();
    }
}

void MonitorSession::addCaptured() {
    try {
        if (captured_.count != 0) {
            addDecoded(captured_, capturedDetections_);
        }
        if (secure_) {
            addSecureFound(capturedDetections_);
        }
    } catch (const std::bad_alloc&) {
        store_.countDropped();  // as above; the store itself takes no memory it cannot get
    }
    captured_.clear();
}

void MonitorSession::followKeyLog(std::uint64_t nowMicros, bool now) {
    if (!now && nowMicros - keyLogReadAt_ < kKeyLogMicros) {
        return;
    }
    keyLogReadAt_ = nowMicros;
    if (keyLogFile_) {
        // A browser writes a few lines a connection: a few reads catch up with any burst.
        for (int read = 0; read < 4 && keyLogFile_->poll(*keyLog_).more; ++read) {
        }
    }
    secure_->tick(nowMicros);
}

void MonitorSession::OnCaptureStatus(const CaptureStatus& status) {
    if (callbacks_.captureStatus) {
        callbacks_.captureStatus(status, captureRun_.load());
    }
}

// ---- capture files --------------------------------------------------------------------------

void MonitorSession::feed(std::span<const CapturedPacket> packets, std::vector<Detection>& out) {
    fed_.restart(packets.size());
    decode(packets, fed_);
    addDecoded(fed_, out);
}

void MonitorSession::DecodedBatch::restart(std::size_t packets) {
    clear();
    if (keys.size() < packets) {
        keys.clear();  // no room, should the records not fit in memory
        records.clear();
        bytes.reset();
        bytes.reset(new unsigned char[packets * PackedStream::maxSize()]);
        records.resize(packets);
        keys.resize(packets);
    }
}

bool MonitorSession::decodeOne(const std::uint8_t* datagram, std::uint32_t length,
                               DecodedBatch& out, StreamFields& fields) const {
    if (decoder_.decode(datagram, length, decodingHead(), fields) != 0) {
        return false;
    }
    const PackedStream& packed = PackedStream::pack(fields, out.bytes.get() + out.used);
    out.used += packed.size();
    out.records[out.count] = &packed;
    out.keys[out.count] = StreamStore::keyOf(packed.fields());
    ++out.count;
    return true;
}

void MonitorSession::addDecoded(DecodedBatch& batch, std::vector<Detection>& out) {
    out.clear();
    const bool prefetch = store_.rowCount() >= kPrefetchFrom;
    StreamStore::Sighting sightings[kFeedBatch];
    StreamStore::AddResult results[kFeedBatch];
    for (std::size_t group = 0; group < batch.count; group += kFeedBatch) {
        const std::size_t size = std::min(batch.count - group, kFeedBatch);
        // The lookups of a group overlap: their slots are on the way before the first add.
        for (std::size_t i = 0; prefetch && i < size; ++i) {
            store_.prefetch(batch.keys[group + i]);
        }
        for (std::size_t i = 0; i < size; ++i) {
            sightings[i] = {batch.records[group + i]->fields(), batch.keys[group + i]};
        }
        store_.add(std::span<const StreamStore::Sighting>(sightings, size), results);
        for (std::size_t i = 0; i < size; ++i) {
            out.push_back({batch.records[group + i], results[i].row, results[i].added});
        }
    }
}

// ---- encrypted traffic ---------------------------------------------------------------------

void MonitorSession::setKeyLog(std::shared_ptr<KeyLog> keys) {
    keyLog_ = std::move(keys);
}

bool MonitorSession::readSecure(const std::uint8_t* datagram, std::uint32_t length,
                                std::uint64_t nowMicros) {
    // Once reading, the reader's own port test is the only one: a TLS segment is parsed once.
    if (secure_) {
        return secure_->read(datagram, length, nowMicros);
    }
    if (!SecureTrafficReader::isFollowed(datagram, length, tlsPorts_, &watchedPorts_)) {
        return false;
    }
    if (!keyLog_) {
        keyLog_ = std::make_shared<KeyLog>();
    }
    // Keys a browser writes while capturing may come after the records they open.
    SecureTrafficReader::Waiting waiting;
    if (keyLogFile_) {
        waiting.heldPerConnection = 1 << 20;
    }
    secure_ = std::make_unique<SecureTrafficReader>(
        decoder_, keyLog_, tlsPorts_,
        [this](const StreamFields& stream) { keepSecureFound(stream); }, waiting);
    secure_->followPlainHttp(watchedPorts_);
    return secure_->read(datagram, length, nowMicros);
}

void MonitorSession::keepSecureFound(const StreamFields& stream) {
    std::lock_guard lock(secureMutex_);
    if (secureFound_.empty() || secureFound_.back().count == kFeedBatch) {
        secureFound_.emplace_back().restart(kFeedBatch);
    }
    DecodedBatch& chunk = secureFound_.back();
    const PackedStream& packed = PackedStream::pack(stream, chunk.bytes.get() + chunk.used);
    chunk.used += packed.size();
    chunk.records[chunk.count] = &packed;
    chunk.keys[chunk.count] = StreamStore::keyOf(packed.fields());
    ++chunk.count;
}

void MonitorSession::finishSecure() {
    if (!secure_) {
        return;
    }
    secure_->finish();
    {
        std::lock_guard lock(secureMutex_);
        secureSummary_ = secure_->summary();
    }
    secure_.reset();
}

void MonitorSession::addSecureFound(std::vector<Detection>& out) {
    secureTaken_.clear();
    {
        std::lock_guard lock(secureMutex_);
        secureTaken_.swap(secureFound_);
    }
    std::vector<Detection> added;
    for (DecodedBatch& chunk : secureTaken_) {
        addDecoded(chunk, added);
        out.insert(out.end(), added.begin(), added.end());
    }
}

SecureTrafficReader::Summary MonitorSession::secureSummary() const {
    std::lock_guard lock(secureMutex_);
    return secureSummary_;
}

// ---- rows -----------------------------------------------------------------------------------

std::string MonitorSession::url(int row) const {
    DetectedStream record;
    return store_.copyRecord(row, record) ? DownloadStarter::UrlOf(record) : std::string();
}

MonitorSession::Changes MonitorSession::takeChanges() {
    StoreChangeQueue::Changes taken = changes_->take();
    return {store_.rowCount(), std::move(taken.refreshed)};
}

void MonitorSession::reset() {
    downloads_.orphanAll();
    store_.reset();
    changes_->clear();
}

std::vector<int> MonitorSession::removeRows(const std::vector<int>& rows) {
    std::vector<int> moved = store_.removeRows(rows);
    if (moved.empty()) {
        return moved;
    }
    downloads_.moveRows(moved);
    changes_->clear();
    return moved;
}

void MonitorSession::setCookieReuse(bool reuse) {
    decoder_.setKeepCookies(reuse);
}

// ---- downloads ------------------------------------------------------------------------------

bool MonitorSession::startDownload(int row, const std::string& targetPath, ExistingFile existing) {
    reapEndedDownloads();
    if (closed_.load()) {
        return false;
    }
    std::shared_ptr<DetectedStream> record = store_.sharedRecord(row);
    if (!record || HoldsDownload(LoadDownloadState(*record))) {
        return false;
    }
    auto download = std::make_unique<SessionDownload>(
        store_, callbacks_, std::move(record), row,
        [this](SessionDownload& ended, const DownloadOutcome& outcome) {
            onDownloadEnded(ended, outcome);
        },
        [this](SessionDownload& paused) { onDownloadPaused(paused); });
    HttpDownloadOptions httpOptions;
    httpOptions.sendRequestContext = sendRequestContext_;
    httpOptions.sendCapturedCookie = cookieReuse();
    std::string target = targetPath;
    if (existing == ExistingFile::kFreeName) {
        // Names that downloads of this session will take count as taken, too.
        std::optional<std::string> free =
            FreeFileName::Find(targetPath, [this](const std::string& name) {
                return FreeFileName::Exists(name) || downloads_.holdsTarget(name);
            });
        if (!free) {
            download->showMessage(
                DownloadMessages::Fill(DownloadMessages::kFileOpenFailed, EEXIST));
            return false;
        }
        target = std::move(*free);
        httpOptions.replaceTarget = false;
    }
    if (!download->wait(target, httpOptions)) {
        return false;
    }
    return downloads_.add(std::move(download));
}

bool MonitorSession::cancelDownload(int row) {
    return downloads_.cancel(row);
}

bool MonitorSession::pauseDownload(int row) {
    return downloads_.pause(row);
}

bool MonitorSession::canPauseDownload(int row) const {
    return downloads_.canPause(row);
}

bool MonitorSession::resumeDownload(int row) {
    return downloads_.resume(row);
}

int MonitorSession::cancelAllDownloads() {
    return downloads_.cancelAll();
}

int MonitorSession::downloadCount() const {
    return downloads_.count();
}

void MonitorSession::reapEndedDownloads() {
    downloads_.reap();
}

// Worker thread.
void MonitorSession::onDownloadEnded(SessionDownload& download, const DownloadOutcome& outcome) {
    if (callbacks_.downloadEnded) {
        callbacks_.downloadEnded(download.row(), outcome);
    }
}

// Worker thread.
void MonitorSession::onDownloadPaused(SessionDownload& download) {
    if (callbacks_.downloadPaused) {
        callbacks_.downloadPaused(download.row());
    }
}

void MonitorSession::shutdown() {
    closed_.store(true);
    stop();
    downloads_.close();
}

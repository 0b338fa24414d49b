#pragma once

#include <atomic>
#include <cstddef>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "core/capture/AdapterEntry.h"
#include "core/capture/CapturedPacket.h"
#include "core/capture/PacketReceiver.h"
#include "core/detect/PackedStream.h"
#include "core/detect/StreamDecoder.h"
#include "core/detect/TlsPorts.h"
#include "core/session/CaptureFactory.h"
#include "core/session/DownloadQueue.h"
#include "core/session/SecureTrafficReader.h"
#include "core/session/SessionCallbacks.h"
#include "core/store/StoreChangeQueue.h"
#include "core/store/StreamRowView.h"
#include "core/store/StreamStore.h"
#include "core/tls/KeyLog.h"
#include "core/tls/KeyLogFile.h"

class SessionDownload;

// The engine as every front end drives it, for one monitoring run or one capture file: the
// capture, the decoder with its suffix table and adapter, the list of streams with its news
// for the front end, and the running downloads. The front end calls it from one thread (its
// own: the user-interface thread, the command line's main thread); the session reports back
// through SessionCallbacks from its own threads.
//
// Threads meet here: the capture thread adds rows, download workers refresh them, both under
// the store's lock; the news queue wakes the front end once per batch.
class MonitorSession : private PacketReceiver {
  public:
    struct Changes {
        int rowCount = 0;            // rows in the list now; rows beyond what was shown are new
        std::vector<int> refreshed;  // rows whose texts changed, each once, in order
    };

    // One detection of a fed batch: the decoded stream and whether it made a new row.
    struct Detection {
        const PackedStream* packed;  // valid until the next feed()
        int row;
        bool added;

        // The full record, made on this thread's own copy: valid until record() is called
        // again on this thread.
        const DetectedStream& record() const;
    };

    // The live capture (through the capture helper) unless `captureFactory` gives another (tests).
    explicit MonitorSession(SessionCallbacks callbacks,
                            std::unique_ptr<CaptureFactory> captureFactory = nullptr);
    // Ends everything as shutdown() does.
    ~MonitorSession() override;

    MonitorSession(const MonitorSession&) = delete;
    MonitorSession& operator=(const MonitorSession&) = delete;

    // ---- detection ----
    // Packets decoded from now on use `table`; any thread may still be decoding with the old.
    void setSuffixTable(std::shared_ptr<const SuffixTable> table);
    std::shared_ptr<const SuffixTable> suffixTable() const;
    // The TCP ports watched: the three fixed ones and those added; used by the decoder and the
    // kernel filter alike. Taken at once when no capture runs, otherwise from the next start.
    void setWatchedPorts(const WatchedPorts& ports);
    const WatchedPorts& watchedPorts() const { return watchedPorts_; }

    // Cookie reuse (off unless set): a request's Cookie is kept with its row and sent by the
    // row's HTTP download, to the host it was captured for only. Rows seen with it off keep
    // no cookie; turning it off also stops sending the ones kept.
    void setCookieReuse(bool reuse);
    bool cookieReuse() const { return decoder_.keepsCookies(); }
    // Whether HTTP downloads send the detected request's Referer and User-Agent (on unless
    // set): servers that check them refuse a download without.
    void setSendRequestContext(bool send) { sendRequestContext_ = send; }
    bool sendRequestContext() const { return sendRequestContext_; }

    // ---- live capture ----
    // Starts capturing on `adapter` (promiscuous), whose bytes go into every record. Returns at
    // once; the outcome arrives through captureStatus. False when a capture runs already.
    bool start(const AdapterEntry& adapter);
    // Stops the capture and joins its thread; nothing is reported for it any more.
    void stop();
    bool isCapturing() const { return capture_ != nullptr; }
    // Counts the starts; reports carry the value of the capture that sent them.
    int captureRun() const { return captureRun_.load(); }
    CaptureStatus captureStatus() const;
    CPacketCapture::Statistics captureStatistics() const;
    // The adapter of the current (or last) capture.
    const AdapterEntry& adapter() const { return adapter_; }

    // ---- capture files ----
    // Decodes `packets` in order into the list on the caller's thread; the detections, in
    // packet order, replace `out`. A batch of kFeedBatch packets lets the lookups of a large
    // list overlap. One feeding thread at a time.
    static constexpr std::size_t kFeedBatch = 16;
    void feed(std::span<const CapturedPacket> packets, std::vector<Detection>& out);

    // The two halves of feed(), for a reader that decodes on a thread of its own ahead of the
    // feeding thread: decode() on one thread at a time per batch, then addDecoded() on the
    // feeding thread, batches in packet order. A batch is reused once added.
    struct DecodedBatch {
        // The detections packed one behind the other: the few cache lines each takes are
        // what crosses to the feeding thread. Left uninitialised beyond what is packed.
        std::unique_ptr<unsigned char[]> bytes;
        std::size_t used = 0;
        std::vector<const PackedStream*> records;
        std::vector<StreamStore::Key> keys;  // views into the packed texts
        std::size_t count = 0;

        // Empty, with room for the detections of `packets` packets.
        void restart(std::size_t packets);
        // Empty, keeping its room.
        void clear() { count = used = 0; }
    };
    // Appends the detections of `packets` to `out`, which has room for them (restart()): a
    // batch may be decoded in parts, in order, even by two threads one after the other.
    void decode(std::span<const CapturedPacket> packets, DecodedBatch& out) const {
        StreamFields fields;
        for (const CapturedPacket& packet : packets) {
            decodeOne(packet, out, fields);
        }
    }
    // The same for one datagram where it was read; `onDecoded` sees its fields as decoded,
    // still in this core's cache.
    template <typename OnDecoded>
    void decodeDatagram(const std::uint8_t* datagram, std::uint32_t length, DecodedBatch& out,
                        OnDecoded&& onDecoded) const {
        StreamFields fields;
        if (decodeOne(datagram, length, out, fields)) {
            onDecoded(std::as_const(fields));
        }
    }
    void addDecoded(DecodedBatch& batch, std::vector<Detection>& out);

    // ---- encrypted traffic ----
    // The ports read as TLS (443 unless set) and the secrets to read them with (none unless
    // set). Before any datagram is read.
    void setTlsPorts(const TlsPorts& ports) { tlsPorts_ = ports; }
    const TlsPorts& tlsPorts() const { return tlsPorts_; }
    void setKeyLog(std::shared_ptr<KeyLog> keys);
    // While capturing, follows the key log file at `path` as a browser writes it (it may not
    // exist yet); records wait a while for keys not read yet. Empty: none. Before start().
    void setKeyLogPath(std::string path) { keyLogPath_ = std::move(path); }
    const std::string& keyLogPath() const { return keyLogPath_; }
    // On the one thread that reads, for every datagram in capture order: whether it is a TCP
    // segment on a TLS port, then read here (and not for decode()). Plain HTTP segments are
    // read here too, for answers that name media, and then decoded as well (false).
    // `nowMicros` is monotonic.
    bool readSecure(const std::uint8_t* datagram, std::uint32_t length, std::uint64_t nowMicros);
    // On that thread, at the end of the input: every connection ends (and the next datagram
    // starts anew).
    void finishSecure();
    // On the feeding thread: lists the requests readSecure() found since the last call and
    // appends their detections to `out` (valid until the next call).
    void addSecureFound(std::vector<Detection>& out);
    // What readSecure() could and could not read; after finishSecure().
    SecureTrafficReader::Summary secureSummary() const;

    // ---- rows ----
    // A new row for `record` unless its host and path are listed; the row concerned, or -1.
    // Any thread.
    int addStream(const DetectedStream& record) { return store_.addStream(record); }
    // The row with the record's host and path shows `progress`. Any thread.
    int showTransfer(const DetectedStream& record, const TransferProgress& progress) {
        return store_.showTransfer(record, progress);
    }
    int rowCount() const { return store_.rowCount(); }
    bool rowView(int row, StreamRowView& out) const { return store_.rowView(row, out); }
    // What up to `count` rows from `first` on show, in one go; returns how many.
    int rowView(int first, int count, StreamRowView* out) const {
        return store_.rowView(first, count, out);
    }
    // The row's detection fields (download bookkeeping zero); false when out of range.
    bool copyRecord(int row, DetectedStream& out) const { return store_.copyRecord(row, out); }
    // The same with an ended download's state and local file, for a saved list.
    bool copyRecordToSave(int row, DetectedStream& out) const {
        return store_.copyRecordToSave(row, out);
    }
    // The row's own record, valid until reset(). Its detection fields and localFile may be
    // read; the state only through LoadDownloadState.
    const DetectedStream* record(int row) { return store_.record(row); }
    // Host followed by path; empty when out of range.
    std::string url(int row) const;
    // At most `limit` rows are listed (StreamStore::kDefaultRowLimit unless set).
    void setRowLimit(int limit) { store_.setRowLimit(limit); }
    int rowLimit() const { return store_.rowLimit(); }
    // New streams not listed since the last reset(): the list was full or memory ran out.
    std::uint64_t droppedStreams() const { return store_.droppedCount(); }
    // What changed since the last call; the next change calls rowsChanged again.
    Changes takeChanges();
    // Empties the list. Running downloads go on; their rows are gone. Waiting and paused ones
    // end (nothing could start or resume them unseen).
    void reset();
    // Takes `rows` out of the list, except rows that hold a download (running, waiting or
    // paused); a stream taken out is listed again when seen again. Rows after them move up
    // (downloads follow their rows).
    // Returns, for every row before the call, its row now (-1: gone); empty when none went.
    std::vector<int> removeRows(const std::vector<int>& rows);

    // ---- downloads ----
    // What a download does about a file that already has its target's name.
    enum class ExistingFile {
        kReplace,   // the user chose it (a save dialog asks before it replaces one)
        kFreeName,  // it takes the first free "name (1).mp4", "name (2).mp4", ... instead
    };
    // Downloads row `row` into `targetPath` (a full path): at once while fewer than
    // downloadLimit() run, otherwise once the downloads asked for before it have had their
    // turn (the row waits meanwhile). False when nothing was queued: no such row, a row that
    // holds a download already, a scheme that is not downloaded, no free name, a failure to
    // start (told through showMessage).
    bool startDownload(int row, const std::string& targetPath,
                       ExistingFile existing = ExistingFile::kReplace);
    // Asks the row's download to stop, whether it runs, waits or is paused; false when it has
    // none. A waiting one ends at once, without an end report.
    bool cancelDownload(int row);
    // HTTP downloads pause with their part kept and go on from it when resumed. Pause asks a
    // running one to stop (downloadPaused follows, or its end when it was done); resume lets a
    // paused one wait for its turn again. False when the row's download cannot.
    bool pauseDownload(int row);
    bool canPauseDownload(int row) const;
    bool resumeDownload(int row);
    // How many downloads run at once (DownloadQueue::kDefaultLimit unless set; at least one).
    void setDownloadLimit(int limit) { downloads_.setLimit(limit); }
    int downloadLimit() const { return downloads_.limit(); }
    // Downloads that transfer now.
    int runningDownloadCount() const { return downloads_.running(); }
    // Downloads that run, wait or are paused, and those ended but not reaped yet.
    int downloadCount() const;
    // Asks every download to stop as cancelDownload() does, also those whose row went with a
    // reset; the ends of those that ran arrive as usual. Returns how many were asked.
    int cancelAllDownloads();
    // Joins and forgets the downloads that have ended and starts the waiting ones whose turn
    // it is; from the owner's thread, after each downloadEnded and downloadPaused.
    void reapEndedDownloads();

    // Stops the capture, cancels every download (a paused one's part goes; a waiting one never
    // starts) and joins all threads; the session takes no more packets or downloads
    // afterwards. A front end whose prompts wait for its own thread must release them first.
    void shutdown();

  private:
    // Decodes `packet` and packs it into `out` when it names a stream; `fields` then views
    // what was decoded (see StreamDecoder::decode).
    bool decodeOne(const CapturedPacket& packet, DecodedBatch& out, StreamFields& fields) const {
        return decodeOne(packet.data, packet.length, out, fields);
    }
    bool decodeOne(const std::uint8_t* datagram, std::uint32_t length, DecodedBatch& out,
                   StreamFields& fields) const;
    void keepSecureFound(const StreamFields& stream);
    // Capture thread: reads what the browser added to the key log (at most every so often)
    // and lets waiting connections try their keys.
    void followKeyLog(std::uint64_t nowMicros, bool now);
    void OnCapturedPacket(const CapturedPacket* packet) override;
    void OnLargeDatagram(const std::uint8_t* datagram, std::uint32_t length) override;
    void takeCaptured(const std::uint8_t* datagram, std::uint32_t length);
    void OnPacketBatchEnd() override;
    void OnIdle() override;
    void addCaptured();
    void OnCaptureStatus(const CaptureStatus& status) override;
    void onDownloadEnded(SessionDownload& download, const DownloadOutcome& outcome);
    void onDownloadPaused(SessionDownload& download);

    SessionCallbacks callbacks_;
    std::unique_ptr<CaptureFactory> captureFactory_;
    // The decoder is read by the reading thread for every packet while the feeding thread
    // writes the store's lock: each on cache lines of its own, or every lock would first take
    // the line back from the other core.
    static constexpr std::size_t kCacheLine = 64;
    alignas(kCacheLine) StreamDecoder decoder_;
    WatchedPorts watchedPorts_;
    alignas(kCacheLine) StreamStore store_;
    std::shared_ptr<StoreChangeQueue> changes_;

    std::unique_ptr<CaptureEngine> capture_;
    CPacketCapture::Statistics lastStatistics_;
    AdapterEntry adapter_{};
    std::atomic<int> captureRun_{0};
    // Capture thread only (and the owner's once that thread is joined): decoded packets not
    // yet listed.
    DecodedBatch captured_;
    std::vector<Detection> capturedDetections_;

    // Feeding thread only.
    DecodedBatch fed_;

    TlsPorts tlsPorts_;
    std::shared_ptr<KeyLog> keyLog_;
    std::string keyLogPath_;
    // Capture thread only (and the owner's once that thread is joined): the followed key log
    // file and when it was last read.
    std::unique_ptr<KeyLogFile> keyLogFile_;
    std::uint64_t keyLogReadAt_ = 0;
    // Reading thread only (made at its first TLS datagram).
    std::unique_ptr<SecureTrafficReader> secure_;
    // What the reading thread found, in chunks, for the feeding thread.
    mutable std::mutex secureMutex_;
    std::vector<DecodedBatch> secureFound_;
    SecureTrafficReader::Summary secureSummary_;
    // Feeding thread only: the chunks whose detections were handed out last.
    std::vector<DecodedBatch> secureTaken_;

    bool sendRequestContext_ = true;

    DownloadQueue downloads_;
    // Set by shutdown(): no capture starts and no packet is taken any more.
    std::atomic<bool> closed_{false};
};

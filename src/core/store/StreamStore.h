#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "core/detect/DetectedStream.h"
#include "core/detect/StreamFields.h"
#include "core/store/HugeBlock.h"
#include "core/store/Ipv6AddressPair.h"
#include "core/store/SharedRequestHeaderTable.h"
#include "core/store/StreamHashIndex.h"
#include "core/store/StreamKindTable.h"
#include "core/store/StreamList.h"
#include "core/store/StreamRowExtra.h"
#include "core/store/StreamRowView.h"
#include "core/store/StreamStoreObserver.h"
#include "core/store/TextArena.h"

// The list of detected streams, one row per distinct host + path (exact, case-sensitive), in
// the order first seen. A row keeps the query and the request headers (Referer, User-Agent, Cookie)
// of its latest sighting (signed URLs expire, sessions move on). Rows are
// only appended until reset(). Safe from any thread; observers hear of changes after the lock is
// released, so the store never waits for them.
//
// Rows are kept compact (a new stream costs 64 bytes plus its texts); the full
// record a download works on is made on first request by record() and then stays at the same
// address, shared-owned, so a later reset can leave it alive for a running download.
class StreamStore : public StreamList {
  public:
    struct AddResult {
        int row;     // the new row, or the row that already had this host and path
        bool added;  // false for a repeat
    };

    // A record's host and path with their hash, worked out once for a prefetch() and the
    // add() that follows it.
    struct Key {
        std::string_view host;
        std::string_view path;
        std::uint32_t hash;
    };

    StreamStore();
    ~StreamStore() override;
    StreamStore(const StreamStore&) = delete;
    StreamStore& operator=(const StreamStore&) = delete;

    // StreamList: add(), and the transfer a row shows.
    int addStream(const DetectedStream& record) override;
    int showTransfer(const DetectedStream& record, const TransferProgress& progress) override;

    // Appends a copy of `record` unless a row with its host and path exists; that row then
    // takes the record's query and request headers.
    AddResult add(const DetectedStream& record);
    // The same with the record's key already at hand; `key` must be keyOf(record).
    AddResult add(const DetectedStream& record, const Key& key);

    static Key keyOf(const DetectedStream& record);
    static Key keyOf(const StreamFields& fields);

    // A decoded stream with its key (keyOf(fields)).
    struct Sighting {
        StreamFields fields;
        Key key;
    };
    // Adds each of `sightings` in order as add() would, under one hold of the lock; their
    // outcomes go to `results`, one each.
    void add(std::span<const Sighting> sightings, AddResult* results);

    // Starts loading the index entry `record` would be looked up in, so that a following
    // add() of it waits less for memory. A hint only: it takes no lock and changes nothing.
    void prefetch(const DetectedStream& record) const;
    void prefetch(const Key& key) const;

    int rowCount() const;

    // The row with this host and path, or -1.
    int findRow(std::string_view host, std::string_view path) const;

    // The store's own record of a row, made on first request; null when `row` is out of range.
    // It stays valid until reset(); sharedRecord() keeps it alive beyond. Each request brings
    // its query up to the latest sighting, so call them from the thread that reads the record.
    DetectedStream* record(int row);
    std::shared_ptr<DetectedStream> sharedRecord(int row);

    // The row's detection fields as first seen (the query as last seen), bookkeeping zero,
    // without keeping a record; false when `row` is out of range. Texts are filled up to their
    // terminators (see ClearRecordFields).
    bool copyRecord(int row, DetectedStream& out) const;
    // The same, and for a row whose download has ended its state and local file, as a saved
    // list keeps them; any other download (one still running) leaves them zero. From the
    // thread that starts the downloads.
    bool copyRecordToSave(int row, DetectedStream& out) const;

    // A consistent copy of what a row shows; false when `row` is out of range.
    bool rowView(int row, StreamRowView& out) const;
    // The same of up to `count` rows from `first` on, under one lock; returns how many.
    int rowView(int first, int count, StreamRowView* out) const;

    // At most `limit` rows are kept (kDefaultRowLimit unless set); past it new streams are
    // dropped and counted, repeats of listed ones still find their row.
    static constexpr int kDefaultRowLimit = 1'000'000;
    void setRowLimit(int limit);
    int rowLimit() const;

    // New streams not listed since the last reset(): the list was full, or memory ran out.
    std::uint64_t droppedCount() const;
    // Counts a stream that was lost before it reached the list (no memory to take it).
    void countDropped();

    // Empties the list and zeroes the dropped count.
    void reset();

    // Takes `rows` out of the list, except rows whose download runs, waits or is paused; the
    // rows after them move up, and a stream taken out is a new row when seen again. Returns,
    // for every row before the call, its row now (-1: taken out); empty when nothing was taken
    // out (or memory ran out, and then the list is as it was). Observers hear a reset.
    std::vector<int> removeRows(const std::vector<int>& rows);

    void addObserver(std::shared_ptr<StreamStoreObserver> observer);
    void removeObserver(const StreamStoreObserver* observer);

  private:
    struct Row;
    using ObserverList = std::vector<std::shared_ptr<StreamStoreObserver>>;

    // Rows per chunk: as many as fill one huge page, which is what a chunk occupies.
    static constexpr std::size_t chunkRows();

    Row& rowAt(int row) const;
    void* nextRowSlot();
    void prepareToAdd();
    AddResult addLocked(const StreamFields& fields, const Key& key, const DetectedStream* full);
    // `full`, when given, is the whole record `record` views: a row keeps it when it holds
    // download bookkeeping.
    bool appendLocked(const StreamFields& record, const Key& key, const DetectedStream* full);
    static std::unique_ptr<StreamRowExtra> extraToKeep(const DetectedStream* full);
    // The reference a row keeps of a query or IPv6 addresses (1 + the index), 0 for none.
    std::uint32_t storeQuery(std::string_view query);
    std::uint32_t storeIpv6Addresses(const StreamFields& record);
    void* makeRoomForRow(const Key& key, bool withExtra, std::uint32_t headers,
                         std::uint32_t& text);
    void publishAppendedRow();
    void tellAdded(std::span<const AddResult> results);
    void tellRefreshed(int row);
    void tellReset();
    void destroyRows();
    bool removable(const Row& row) const;
    // For every row, whether it goes; empty when none of `rows` can go.
    std::vector<bool> removableAmong(const std::vector<int>& rows) const;
    // Lays the rows not `gone` out afresh; returns every row's new row (-1: gone) and leaves
    // the old chunks in `oldChunks`, to be given back outside the lock.
    std::vector<int> keepRowsBut(const std::vector<bool>& gone, std::vector<HugeBlock>& oldChunks);
    int copyKeptRows(const std::vector<bool>& gone, std::vector<int>& moved,
                     std::vector<HugeBlock>& chunks, TextArena& texts,
                     StreamHashIndex& index) const;
    void copyRow(const Row& old, int at, std::vector<HugeBlock>& chunks, TextArena& texts,
                 StreamHashIndex& index) const;
    void forgetRows(const std::vector<bool>& gone);
    void forgetRow(Row& row);
    // The row's extra, made on first request.
    StreamRowExtra& extraOf(Row& row);
    int findLocked(std::uint32_t hash, std::string_view host, std::string_view path) const;
    std::shared_ptr<DetectedStream> materialize(const Row& row) const;
    void fillRecord(const Row& row, DetectedStream& out) const;
    void fillView(const Row& row, StreamRowView& out) const;
    std::string_view queryText(const Row& row) const;
    void keepLatestQuery(Row& row, std::string_view query);
    void keepLatestSighting(int found, const StreamFields& record);
    void keepLatestHeaders(Row& row, const StreamFields& record);
    void giveWayToReaders() const;
    bool wantsChunk() const;
    std::size_t rowsToCome() const;
    bool wantsBlocks() const;
    void prepareBlocks();
    std::unique_lock<std::mutex> lockForReading() const;
    // The current observers; null when there are none.
    std::shared_ptr<const ObserverList> observers() const;

    mutable std::mutex mutex_;
    mutable std::atomic<int> readersWaiting_{0};  // for the lock, in lockForReading()
    // Whether a reader ever had to wait for the lock: only then are blocks made ahead. Alone,
    // an adding thread pays less for faulting pages in as it goes (and no unused block).
    mutable std::atomic<bool> readersSeen_{false};
    std::vector<HugeBlock> chunks_;
    HugeBlock spareChunk_;  // the next chunk, faulted in by prepareBlocks()
    // Set when the rows' chunks, texts or index will soon need a block prepareBlocks() can
    // make; it is then done by the next thread that adds.
    std::atomic<bool> blocksWanted_{false};
    int rowCount_ = 0;
    std::atomic<int> publishedRowCount_{0};  // rowCount_, for readers without the lock
    int rowLimit_ = kDefaultRowLimit;
    std::atomic<std::uint64_t> dropped_{0};
    std::vector<std::unique_ptr<StreamRowExtra>> extras_;
    StreamHashIndex index_;
    TextArena texts_;
    StreamKindTable kinds_;
    std::vector<std::string> queries_;
    std::vector<Ipv6AddressPair> ipv6Addresses_;
    SharedRequestHeaderTable requestHeaders_;

    mutable std::mutex observerMutex_;
    std::shared_ptr<const ObserverList> observers_;
    std::atomic<bool> anyObserver_{false};
};

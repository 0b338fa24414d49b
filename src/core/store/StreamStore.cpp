#include "core/store/StreamStore.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <new>
#include <thread>
#include <type_traits>
#include <utility>

#include "core/store/FieldText.h"
#include "core/store/StreamKeyHash.h"

namespace {

constexpr std::size_t kHeaderBytes = StreamFields::kHeaderBytes;

// Anything but the detector's own fields is set: the row keeps the whole record.
bool hasBookkeeping(const DetectedStream& r) {
    return r.state != 0 || r.liveRecording != 0 || r.localFile[0] != 0;
}

}  // namespace

struct StreamStore::Row {
    std::uint8_t header[kHeaderBytes];
    std::uint32_t text;       // host and path in the text arena
    std::uint32_t kind;       // its number in kinds_
    std::uint32_t query;      // 1 + its index in queries_, 0 for none
    std::uint32_t addresses;  // 1 + its index in ipv6Addresses_, 0 for an IPv4 row
    std::uint32_t headers;    // its reference in requestHeaders_, 0 for none
    std::uint32_t extra;      // 1 + its index in extras_, 0 for none (a 64-byte row)
};

constexpr std::size_t StreamStore::chunkRows() {
    static_assert(std::is_trivially_destructible_v<Row>, "rows are dropped without a visit");
    static_assert(sizeof(Row) == 64, "a row fills one cache line");
    return HugeBlock::kHugePage / sizeof(Row);
}
StreamStore::StreamStore() : observers_(std::make_shared<const ObserverList>()) {}

StreamStore::~StreamStore() {
    destroyRows();
}

int StreamStore::addStream(const DetectedStream& record) {
    return add(record).row;
}

StreamStore::Row& StreamStore::rowAt(int row) const {
    auto index = static_cast<std::size_t>(row);
    return static_cast<Row*>(chunks_[index / chunkRows()].data())[index % chunkRows()];
}

void* StreamStore::nextRowSlot() {
    auto index = static_cast<std::size_t>(rowCount_);
    if (index / chunkRows() == chunks_.size()) {
        // Rows are appended in order, so huge pages would save few TLB misses, and a fresh
        // huge page may cost the kernel a compaction first.
        if (spareChunk_.data() != nullptr) {
            chunks_.push_back(std::move(spareChunk_));
        } else {
            chunks_.emplace_back(chunkRows() * sizeof(Row), false);
        }
    }
    return &static_cast<Row*>(chunks_.back().data())[index % chunkRows()];
}

// Everything that may fail to allocate happens before the row exists; a failure leaves at
// most an unreferenced text or kind behind, never a half-made row.
bool StreamStore::appendLocked(const StreamFields& record, const Key& key,
                               const DetectedStream* full) {
    try {
        std::unique_ptr<StreamRowExtra> extra = extraToKeep(full);
        const std::uint32_t kind = kinds_.intern(record);
        // The row's query and IPv6 addresses take their room before the row exists; should a
        // later step fail, they are only unreachable entries.
        const std::uint32_t query = storeQuery(record.query);
        const std::uint32_t addresses = storeIpv6Addresses(record);
        const std::uint32_t headers =
            record.hasRequestContext() ? requestHeaders_.intern(record) : 0;
        std::uint32_t text = 0;
        void* slot = makeRoomForRow(key, extra != nullptr, headers, text);
        Row& stored = *new (slot) Row{};
        std::memcpy(stored.header, record.header, kHeaderBytes);
        stored.text = text;
        stored.kind = kind;
        stored.query = query;
        stored.addresses = addresses;
        stored.headers = headers;
        if (extra) {
            extras_.push_back(std::move(extra));
            stored.extra = static_cast<std::uint32_t>(extras_.size());
        }
        publishAppendedRow();
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

std::unique_ptr<StreamRowExtra> StreamStore::extraToKeep(const DetectedStream* full) {
    if (full == nullptr || !hasBookkeeping(*full)) {
        return nullptr;
    }
    auto extra = std::make_unique<StreamRowExtra>();
    extra->record = std::make_shared<DetectedStream>(*full);
    extra->state = LoadDownloadState(*full);
    return extra;
}

std::uint32_t StreamStore::storeQuery(std::string_view query) {
    if (query.empty()) {
        return 0;
    }
    queries_.emplace_back(query);
    return static_cast<std::uint32_t>(queries_.size());
}

std::uint32_t StreamStore::storeIpv6Addresses(const StreamFields& record) {
    if (!record.isIpv6()) {
        return 0;
    }
    ipv6Addresses_.push_back(Ipv6AddressPair::of(record));
    return static_cast<std::uint32_t>(ipv6Addresses_.size());
}

// The row's slot, its host and path in the arena (`text`) and its index entry. Should one of
// them fail, the row's share of request headers is given back: no row will use it.
void* StreamStore::makeRoomForRow(const Key& key, bool withExtra, std::uint32_t headers,
                                  std::uint32_t& text) {
    try {
        if (withExtra) {
            extras_.reserve(extras_.size() + 1);  // the row's push cannot fail then
        }
        text = texts_.store(static_cast<std::uint32_t>(rowCount_), key.host, key.path);
        void* slot = nextRowSlot();
        index_.insert(key.hash, text + 1);
        return slot;
    } catch (const std::bad_alloc&) {
        if (headers != 0) {
            requestHeaders_.release(headers);
        }
        throw;
    }
}

void StreamStore::publishAppendedRow() {
    ++rowCount_;
    publishedRowCount_.store(rowCount_, std::memory_order_release);
    if (wantsBlocks()) {
        blocksWanted_.store(true, std::memory_order_relaxed);
    }
}

StreamRowExtra& StreamStore::extraOf(Row& row) {
    if (row.extra == 0) {
        extras_.reserve(extras_.size() + 1);
        extras_.push_back(std::make_unique<StreamRowExtra>());
        row.extra = static_cast<std::uint32_t>(extras_.size());
    }
    return *extras_[row.extra - 1];
}

void StreamStore::setRowLimit(int limit) {
    std::lock_guard lock(mutex_);
    rowLimit_ = std::max(limit, 0);
}

int StreamStore::rowLimit() const {
    std::lock_guard lock(mutex_);
    return rowLimit_;
}

std::uint64_t StreamStore::droppedCount() const {
    return dropped_.load(std::memory_order_relaxed);
}

void StreamStore::countDropped() {
    dropped_.fetch_add(1, std::memory_order_relaxed);
}

void StreamStore::destroyRows() {
    // Rows own nothing: a million of them need no visit.
    extras_.clear();
    rowCount_ = 0;
    publishedRowCount_.store(0, std::memory_order_release);
}

// The index holds text references (plus one, as 0 marks an empty slot); the text entry
// knows its row, so a lookup reads no row.
int StreamStore::findLocked(std::uint32_t hash, std::string_view host,
                            std::string_view path) const {
    std::uint32_t found = index_.find(
        hash, [&](std::uint32_t value) { return texts_.matches(value - 1, host, path); });
    return found == 0 ? -1 : static_cast<int>(texts_.at(found - 1).row);
}

StreamStore::Key StreamStore::keyOf(const DetectedStream& record) {
    return keyOf(StreamFields::of(record));
}

StreamStore::Key StreamStore::keyOf(const StreamFields& fields) {
    return {fields.host, fields.path, StreamKeyHash::of(fields.host, fields.path)};
}

StreamStore::AddResult StreamStore::add(const DetectedStream& record) {
    return add(record, keyOf(record));
}

StreamStore::AddResult StreamStore::add(const DetectedStream& record, const Key& key) {
    const StreamFields fields = StreamFields::of(record);
    AddResult result;
    prepareToAdd();
    {
        std::lock_guard lock(mutex_);
        result = addLocked(fields, key, &record);
    }
    tellAdded(std::span(&result, 1));
    return result;
}

void StreamStore::add(std::span<const Sighting> sightings, AddResult* results) {
    prepareToAdd();
    {
        std::lock_guard lock(mutex_);
        for (std::size_t i = 0; i < sightings.size(); ++i) {
            results[i] = addLocked(sightings[i].fields, sightings[i].key, nullptr);
        }
    }
    tellAdded(std::span(results, sightings.size()));
}

void StreamStore::prepareToAdd() {
    if (blocksWanted_.load(std::memory_order_relaxed)) {
        prepareBlocks();
    }
    giveWayToReaders();
}

StreamStore::AddResult StreamStore::addLocked(const StreamFields& fields, const Key& key,
                                              const DetectedStream* full) {
    int found = findLocked(key.hash, key.host, key.path);
    if (found >= 0) {
        keepLatestSighting(found, fields);
        return {found, false};
    }
    // A full list, or no memory left: the stream is counted, and every listed row stays.
    if (rowCount_ >= rowLimit_ || !appendLocked(fields, key, full)) {
        dropped_.fetch_add(1, std::memory_order_relaxed);
        return {-1, false};
    }
    return {rowCount_ - 1, true};
}

// Added rows of one group are consecutive.
void StreamStore::tellAdded(std::span<const AddResult> results) {
    int first = -1;
    int last = -1;
    for (const AddResult& result : results) {
        if (result.added) {
            first = first < 0 ? result.row : first;
            last = result.row;
        }
    }
    if (first < 0) {
        return;
    }
    if (auto list = observers()) {
        for (const auto& observer : *list) {
            observer->rowsAdded(first, last);
        }
    }
}

int StreamStore::showTransfer(const DetectedStream& record, const TransferProgress& progress) {
    const auto [host, path, hash] = keyOf(record);
    int row;
    giveWayToReaders();
    {
        std::lock_guard lock(mutex_);
        row = findLocked(hash, host, path);
        if (row < 0) {
            return -1;
        }
        StreamRowExtra& extra = extraOf(rowAt(row));
        extra.transfer = progress;
        extra.state = LoadDownloadState(record);
    }
    tellRefreshed(row);
    return row;
}

void StreamStore::tellRefreshed(int row) {
    if (auto list = observers()) {
        for (const auto& observer : *list) {
            observer->rowRefreshed(row);
        }
    }
}

void StreamStore::tellReset() {
    if (auto list = observers()) {
        for (const auto& observer : *list) {
            observer->storeReset();
        }
    }
}

// A thread adding streams as fast as they come would take the lock again before a waiting
// reader (the list painting its rows) wakes up; it steps aside while one waits.
void StreamStore::giveWayToReaders() const {
    while (readersWaiting_.load(std::memory_order_relaxed) != 0) {
        std::this_thread::yield();
    }
}

// Wanted once the last chunk is half full (a list that fills less than half a chunk never gets
// one), unless the row limit comes first.
bool StreamStore::wantsChunk() const {
    const auto rows = static_cast<std::size_t>(rowCount_);
    return !chunks_.empty() && spareChunk_.data() == nullptr &&
           rows % chunkRows() > chunkRows() / 2 &&
           static_cast<std::size_t>(rowLimit_) > (rows / chunkRows() + 1) * chunkRows();
}

std::size_t StreamStore::rowsToCome() const {
    return static_cast<std::size_t>(std::max(rowLimit_ - rowCount_, 0));
}

// Looked at every few hundred rows: what is wanted is wanted thousands of rows ahead.
bool StreamStore::wantsBlocks() const {
    return rowCount_ % 256 == 0 && readersSeen_.load(std::memory_order_relaxed) &&
           !blocksWanted_.load(std::memory_order_relaxed) &&
           (wantsChunk() || texts_.wantedBlockBytes(rowsToCome()) != 0 ||
            index_.wantedTableBytes(rowsToCome()) != 0);
}

// Zeroing a huge page as it is first written takes a millisecond or more; under the lock, that
// is time readers (the list painting its rows) wait. So the blocks the next rows will need are
// made and faulted in here, outside the lock, by the thread that adds; whatever is not taken
// after all is given back outside the lock too.
void StreamStore::prepareBlocks() {
    if (!blocksWanted_.exchange(false, std::memory_order_relaxed)) {
        return;  // another thread does it
    }
    std::size_t chunkBytes = 0;
    std::size_t textBytes = 0;
    std::size_t tableBytes = 0;
    {
        std::lock_guard lock(mutex_);
        chunkBytes = wantsChunk() ? chunkRows() * sizeof(Row) : 0;
        textBytes = texts_.wantedBlockBytes(rowsToCome());
        tableBytes = index_.wantedTableBytes(rowsToCome());
    }
    HugeBlock chunk;
    HugeBlock text;
    HugeBlock table;
    try {
        for (auto [block, bytes] : {std::pair{&chunk, chunkBytes}, std::pair{&text, textBytes},
                                    std::pair{&table, tableBytes}}) {
            if (bytes != 0) {
                // Plain pages for rows and texts, huge ones for the index (see nextRowSlot).
                *block = HugeBlock(bytes, block == &table);
                block->faultIn();
            }
        }
    } catch (const std::bad_alloc&) {
        // What is made is still offered; the rest is made under the lock when needed.
    }
    std::lock_guard lock(mutex_);
    if (chunk.data() != nullptr && wantsChunk()) {
        spareChunk_ = std::move(chunk);
    }
    texts_.giveBlock(text, rowsToCome());
    index_.giveTable(table, rowsToCome());
}

std::unique_lock<std::mutex> StreamStore::lockForReading() const {
    std::unique_lock lock(mutex_, std::try_to_lock);
    if (!lock.owns_lock()) {
        readersSeen_.store(true, std::memory_order_relaxed);
        readersWaiting_.fetch_add(1, std::memory_order_relaxed);
        lock.lock();
        readersWaiting_.fetch_sub(1, std::memory_order_relaxed);
    }
    return lock;
}

void StreamStore::prefetch(const DetectedStream& record) const {
    prefetch(keyOf(record));
}

void StreamStore::prefetch(const Key& key) const {
    index_.prefetch(key.hash);
}

// Without the lock: a front end asking often never queues behind a flood of additions.
int StreamStore::rowCount() const {
    return publishedRowCount_.load(std::memory_order_acquire);
}

int StreamStore::findRow(std::string_view host, std::string_view path) const {
    std::uint32_t hash = StreamKeyHash::of(host, path);
    std::unique_lock lock = lockForReading();
    return findLocked(hash, host, path);
}

DetectedStream* StreamStore::record(int row) {
    return sharedRecord(row).get();
}

std::shared_ptr<DetectedStream> StreamStore::sharedRecord(int row) {
    std::unique_lock lock = lockForReading();
    if (row < 0 || row >= rowCount_) {
        return nullptr;
    }
    Row& stored = rowAt(row);
    StreamRowExtra& extra = extraOf(stored);
    if (!extra.record) {
        extra.record = materialize(stored);
    } else if (LoadDownloadState(*extra.record) != kStateDownloading) {
        // A download started now fetches the URL as last seen; a running one keeps its own.
        FieldText::copy(extra.record->query, sizeof extra.record->query, queryText(stored));
        requestHeaders_.fill(stored.headers, *extra.record);
    }
    return extra.record;
}

std::shared_ptr<DetectedStream> StreamStore::materialize(const Row& row) const {
    auto record = std::make_shared<DetectedStream>();
    fillRecord(row, *record);
    return record;
}

void StreamStore::fillRecord(const Row& row, DetectedStream& out) const {
    ClearRecordFields(out);
    std::memcpy(&out, row.header, kHeaderBytes);
    kinds_.at(row.kind).fill(out);
    TextArena::Entry text = texts_.at(row.text);
    FieldText::copy(out.host, sizeof out.host, text.host);
    FieldText::copy(out.path, sizeof out.path, text.path);
    FieldText::copy(out.query, sizeof out.query, queryText(row));
    requestHeaders_.fill(row.headers, out);
    if (row.addresses != 0) {
        ipv6Addresses_[row.addresses - 1].fill(out);
    }
}

// A repeat brings its row's query and request headers up to date.
void StreamStore::keepLatestSighting(int found, const StreamFields& record) {
    // Without any query or headers so far a repeat need not visit its row.
    std::string_view query = record.query;
    bool headers = record.hasRequestContext();
    if (query.empty() && queries_.empty() && !headers && requestHeaders_.empty()) {
        return;
    }
    try {
        Row& row = rowAt(found);
        keepLatestQuery(row, query);
        keepLatestHeaders(row, record);
    } catch (const std::bad_alloc&) {
        // No memory for the new texts: the row keeps what it had.
    }
}

void StreamStore::keepLatestHeaders(Row& row, const StreamFields& record) {
    if (row.headers == 0) {
        if (record.hasRequestContext()) {
            row.headers = requestHeaders_.intern(record);
        }
        return;
    }
    if (!requestHeaders_.matches(row.headers, record)) {
        // Taken first: a failed allocation leaves the row with its old headers.
        std::uint32_t latest = record.hasRequestContext() ? requestHeaders_.intern(record) : 0;
        requestHeaders_.release(row.headers);
        row.headers = latest;
    }
}

std::string_view StreamStore::queryText(const Row& row) const {
    return row.query == 0 ? std::string_view{} : std::string_view(queries_[row.query - 1]);
}

void StreamStore::keepLatestQuery(Row& row, std::string_view query) {
    if (row.query == 0) {
        row.query = storeQuery(query);
        return;
    }
    std::string& kept = queries_[row.query - 1];
    if (kept != query) {
        kept.assign(query);  // in place: a row never holds more than its latest query
    }
}

bool StreamStore::copyRecord(int row, DetectedStream& out) const {
    std::unique_lock lock = lockForReading();
    if (row < 0 || row >= rowCount_) {
        return false;
    }
    fillRecord(rowAt(row), out);
    return true;
}

bool StreamStore::copyRecordToSave(int row, DetectedStream& out) const {
    std::unique_lock lock = lockForReading();
    if (row < 0 || row >= rowCount_) {
        return false;
    }
    const Row& stored = rowAt(row);
    fillRecord(stored, out);
    if (stored.extra == 0 || !extras_[stored.extra - 1]->record) {
        return true;
    }
    // Once ended, only the owner's thread starts the row's download anew: its file name
    // holds still while it is copied.
    const DetectedStream& own = *extras_[stored.extra - 1]->record;
    if (LoadDownloadState(own) == kStateEnded) {
        out.state = kStateEnded;
        std::memcpy(out.localFile, own.localFile, sizeof out.localFile);
    }
    return true;
}

bool StreamStore::rowView(int row, StreamRowView& out) const {
    std::unique_lock lock = lockForReading();
    if (row < 0 || row >= rowCount_) {
        return false;
    }
    fillView(rowAt(row), out);
    return true;
}

int StreamStore::rowView(int first, int count, StreamRowView* out) const {
    std::unique_lock lock = lockForReading();
    int copied = 0;
    for (; first >= 0 && copied < count && first + copied < rowCount_; ++copied) {
        fillView(rowAt(first + copied), out[copied]);
    }
    return copied;
}

void StreamStore::fillView(const Row& stored, StreamRowView& out) const {
    out = StreamRowView{};
    TextArena::Entry text = texts_.at(stored.text);
    FieldText::copy(out.host, sizeof out.host, text.host);
    FieldText::copy(out.path, sizeof out.path, text.path);
    std::memcpy(out.typeName, kinds_.at(stored.kind).typeName, sizeof out.typeName);
    if (stored.extra != 0) {
        const StreamRowExtra& extra = *extras_[stored.extra - 1];
        out.transfer = extra.transfer;
        out.state = extra.state;
    }
}

void StreamStore::reset() {
    std::vector<HugeBlock> oldChunks;
    HugeBlock oldSpare;
    {
        std::lock_guard lock(mutex_);
        destroyRows();
        oldChunks.swap(chunks_);
        oldSpare = std::move(spareChunk_);  // a new small list starts small
        index_.clear();
        texts_.clear();
        kinds_.clear();
        queries_.clear();
        ipv6Addresses_.clear();
        requestHeaders_.clear();
        dropped_.store(0, std::memory_order_relaxed);
    }
    oldChunks.clear();  // unmapped outside the lock
    oldSpare = HugeBlock();
    tellReset();
}

bool StreamStore::removable(const Row& row) const {
    if (row.extra == 0) {
        return true;
    }
    const StreamRowExtra& extra = *extras_[row.extra - 1];
    // A download that runs, waits or is paused keeps its row.
    return !extra.record || !HoldsDownload(LoadDownloadState(*extra.record));
}

std::vector<int> StreamStore::removeRows(const std::vector<int>& rows) {
    std::vector<int> moved;
    std::vector<HugeBlock> oldChunks;
    {
        std::lock_guard lock(mutex_);
        try {
            const std::vector<bool> gone = removableAmong(rows);
            if (gone.empty()) {
                return {};
            }
            moved = keepRowsBut(gone, oldChunks);
        } catch (const std::bad_alloc&) {
            return {};
        }
    }
    oldChunks.clear();  // unmapped outside the lock
    tellReset();
    return moved;
}

std::vector<bool> StreamStore::removableAmong(const std::vector<int>& rows) const {
    std::vector<bool> gone(static_cast<std::size_t>(rowCount_), false);
    bool any = false;
    for (int row : rows) {
        if (row >= 0 && row < rowCount_ && removable(rowAt(row))) {
            any = any || !gone[static_cast<std::size_t>(row)];
            gone[static_cast<std::size_t>(row)] = true;
        }
    }
    return any ? gone : std::vector<bool>{};
}

// The kept rows are laid out afresh, with their texts and index; everything is built before
// the old rows are touched, so that running out of memory leaves the list whole.
std::vector<int> StreamStore::keepRowsBut(const std::vector<bool>& gone,
                                          std::vector<HugeBlock>& oldChunks) {
    std::vector<int> moved(static_cast<std::size_t>(rowCount_), -1);
    std::vector<HugeBlock> chunks;
    TextArena texts;
    StreamHashIndex index;
    const int kept = copyKeptRows(gone, moved, chunks, texts, index);
    // Nothing below allocates.
    forgetRows(gone);
    oldChunks.swap(chunks_);
    chunks_ = std::move(chunks);
    texts_ = std::move(texts);
    index_.swap(index);
    rowCount_ = kept;
    publishedRowCount_.store(kept, std::memory_order_release);
    return moved;
}

int StreamStore::copyKeptRows(const std::vector<bool>& gone, std::vector<int>& moved,
                              std::vector<HugeBlock>& chunks, TextArena& texts,
                              StreamHashIndex& index) const {
    int kept = 0;
    for (int row = 0; row < rowCount_; ++row) {
        if (!gone[static_cast<std::size_t>(row)]) {
            copyRow(rowAt(row), kept, chunks, texts, index);
            moved[static_cast<std::size_t>(row)] = kept++;
        }
    }
    return kept;
}

// Copies `old` to row `at` of `chunks`, with its host and path and their index entry.
void StreamStore::copyRow(const Row& old, int at, std::vector<HugeBlock>& chunks, TextArena& texts,
                          StreamHashIndex& index) const {
    const auto slot = static_cast<std::size_t>(at);
    if (slot / chunkRows() == chunks.size()) {
        chunks.emplace_back(chunkRows() * sizeof(Row), false);
    }
    const TextArena::Entry text = texts_.at(old.text);
    const std::uint32_t stored = texts.store(static_cast<std::uint32_t>(at), text.host, text.path);
    index.insert(StreamKeyHash::of(text.host, text.path), stored + 1);
    Row& fresh = *new (&static_cast<Row*>(chunks.back().data())[slot % chunkRows()]) Row(old);
    fresh.text = stored;
}

void StreamStore::forgetRows(const std::vector<bool>& gone) {
    for (int row = 0; row < rowCount_; ++row) {
        if (gone[static_cast<std::size_t>(row)]) {
            forgetRow(rowAt(row));
        }
    }
}

// A row taken out gives back its share of the request headers and its extra; its query and
// addresses stay in their tables until the next reset.
void StreamStore::forgetRow(Row& row) {
    if (row.headers != 0) {
        requestHeaders_.release(row.headers);
        row.headers = 0;
    }
    if (row.extra != 0) {
        extras_[row.extra - 1].reset();
        row.extra = 0;
    }
}

void StreamStore::addObserver(std::shared_ptr<StreamStoreObserver> observer) {
    if (!observer) {
        return;
    }
    std::lock_guard lock(observerMutex_);
    auto next = std::make_shared<ObserverList>(*observers_);
    next->push_back(std::move(observer));
    observers_ = std::move(next);
    anyObserver_.store(true, std::memory_order_release);
}

void StreamStore::removeObserver(const StreamStoreObserver* observer) {
    std::lock_guard lock(observerMutex_);
    auto next = std::make_shared<ObserverList>(*observers_);
    std::erase_if(*next, [&](const auto& o) { return o.get() == observer; });
    anyObserver_.store(!next->empty(), std::memory_order_release);
    observers_ = std::move(next);
}

std::shared_ptr<const StreamStore::ObserverList> StreamStore::observers() const {
    // Without observers (the command-line tool) every change spares a lock and a count.
    if (!anyObserver_.load(std::memory_order_acquire)) {
        return nullptr;
    }
    std::lock_guard lock(observerMutex_);
    return observers_;
}

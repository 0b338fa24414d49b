#include "core/store/StreamStore.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstring>
#include <new>
#include <thread>
#include <type_traits>
#include <utility>

namespace {

constexpr std::size_t kHeaderBytes = StreamFields::kHeaderBytes;
constexpr std::size_t kLinearKinds = 32;

std::uint64_t mix(std::uint64_t h, std::uint64_t word) {
    h ^= word;
    h *= 0x9E3779B97F4A7C15ull;
    return h ^ (h >> 29);
}

std::uint64_t hashBytes(std::uint64_t h, std::string_view bytes) {
    std::size_t i = 0;
    for (; i + 8 <= bytes.size(); i += 8) {
        std::uint64_t word;
        std::memcpy(&word, bytes.data() + i, 8);
        h = mix(h, word);
    }
    std::uint64_t tail = 0;
    if (i < bytes.size()) {
        std::memcpy(&tail, bytes.data() + i, bytes.size() - i);
    }
    return mix(h, tail ^ (std::uint64_t{bytes.size()} << 56));
}

// Host and path are hashed apart, so that their two chains of multiplications overlap.
std::uint32_t hashKey(std::string_view host, std::string_view path) {
    std::uint64_t h =
        mix(hashBytes(0x2545F4914F6CDD1Dull, host), hashBytes(0x9E3779B97F4A7C15ull, path));
    return static_cast<std::uint32_t>(h ^ (h >> 32));
}

void copyText(char* field, std::size_t capacity, std::string_view text) {
    std::size_t n = std::min(text.size(), capacity - 1);
    std::copy(text.begin(), text.begin() + static_cast<long>(n), field);
    field[n] = '\0';
}

// Anything but the detector's own fields is set: the row keeps the whole record.
bool hasBookkeeping(const DetectedStream& r) {
    return r.state != 0 || r.liveRecording != 0 || r.localFile[0] != 0;
}

}  // namespace

// What many rows share: suffix, scheme, type name and adapter bytes.
struct StreamStore::Kind {
    char suffix[DetectedStream::kSuffixCapacity];
    char scheme[DetectedStream::kSchemeCapacity];
    char typeName[DetectedStream::kTypeNameCapacity];
    std::uint8_t adapterInfo[DetectedStream::kAdapterInfoSize];

    static Kind of(const StreamFields& r) {
        Kind kind{};
        copyText(kind.suffix, sizeof kind.suffix, r.suffix);
        copyText(kind.scheme, sizeof kind.scheme, r.scheme);
        copyText(kind.typeName, sizeof kind.typeName, r.typeName);
        std::memcpy(kind.adapterInfo, r.adapterInfo, sizeof kind.adapterInfo);
        return kind;
    }
    std::string_view bytes() const {
        return std::string_view(reinterpret_cast<const char*>(this), sizeof *this);
    }
    // Whether of(r) would equal this kind, without making it.
    bool sameAs(const StreamFields& r) const {
        return sameText(suffix, sizeof suffix, r.suffix) &&
               sameText(scheme, sizeof scheme, r.scheme) &&
               sameText(typeName, sizeof typeName, r.typeName) &&
               std::memcmp(adapterInfo, r.adapterInfo, sizeof adapterInfo) == 0;
    }

  private:
    // Whether the terminated `stored` text is `text`, without measuring `stored`.
    static bool sameText(const char* stored, std::size_t capacity, std::string_view text) {
        return text.size() < capacity && stored[text.size()] == '\0' &&
               std::string_view(stored, text.size()) == text;
    }
};

struct StreamStore::RowExtra {
    std::shared_ptr<DetectedStream> record;
    // What the row shows of its download, as of its last refresh.
    TransferProgress transfer;
    std::int32_t state = 0;
};

// A segment's two IPv6 addresses, kept for the few rows that came over IPv6.
struct StreamStore::Ipv6Addresses {
    std::uint8_t source[DetectedStream::kIpv6AddressSize];
    std::uint8_t destination[DetectedStream::kIpv6AddressSize];
};

// The request headers of a row's latest sighting, kept once for all rows with the same ones
// (most clients send the same User-Agent with every request) and freed with its last row.
// Referer, User-Agent, Cookie, and for a request read inside TLS its HTTP version and server
// name, in one string, each behind a zero byte but the first: header values hold no zero byte.
struct StreamStore::RequestContext {
    std::string joined;
    std::uint32_t users = 0;

    static constexpr char kSeparator = '\0';
    static constexpr std::size_t kParts = 5;

    static std::array<std::string_view, kParts> partsOf(const StreamFields& r) {
        return {r.referer, r.userAgent, r.cookie, r.httpVersion, r.serverName};
    }
    static std::string of(const StreamFields& r) {
        const auto parts = partsOf(r);
        std::size_t size = kParts - 1;
        for (std::string_view part : parts) {
            size += part.size();
        }
        std::string joined;
        joined.reserve(size);
        for (std::size_t i = 0; i < kParts; ++i) {
            if (i != 0) {
                joined.append(1, kSeparator);
            }
            joined.append(parts[i]);
        }
        return joined;
    }
    bool sameAs(const StreamFields& r) const {
        std::string_view text = joined;
        const auto parts = partsOf(r);
        for (std::size_t i = 0; i < kParts; ++i) {
            if (!text.starts_with(parts[i])) {
                return false;
            }
            text.remove_prefix(parts[i].size());
            if (i + 1 < kParts) {
                if (text.empty() || text.front() != kSeparator) {
                    return false;
                }
                text.remove_prefix(1);
            }
        }
        return text.empty();
    }
    void fill(DetectedStream& out) const {
        const std::array<std::pair<char*, std::size_t>, kParts> fields = {
            std::pair{out.referer, sizeof out.referer},
            {out.userAgent, sizeof out.userAgent},
            {out.cookie, sizeof out.cookie},
            {out.httpVersion, sizeof out.httpVersion},
            {out.serverName, sizeof out.serverName}};
        std::string_view text = joined;
        for (const auto& [field, capacity] : fields) {
            const std::size_t end = std::min(text.find(kSeparator), text.size());
            copyText(field, capacity, text.substr(0, end));
            text.remove_prefix(std::min(end + 1, text.size()));
        }
    }
};

struct StreamStore::Row {
    std::uint8_t header[kHeaderBytes];
    std::uint32_t text;  // host and path in the text arena
    std::uint32_t kind;
    std::uint32_t query;      // 1 + its index in queries_, 0 for none
    std::uint32_t addresses;  // 1 + its index in ipv6Addresses_, 0 for an IPv4 row
    std::uint32_t context;    // 1 + its index in contexts_, 0 for none
    std::uint32_t extra;      // 1 + its index in extras_, 0 for none (a 64-byte row)
};

constexpr std::size_t StreamStore::chunkRows() {
    static_assert(std::is_trivially_destructible_v<Row>, "rows are dropped without a visit");
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
        std::unique_ptr<RowExtra> extra;
        if (full != nullptr && hasBookkeeping(*full)) {
            extra = std::make_unique<RowExtra>();
            extra->record = std::make_shared<DetectedStream>(*full);
            extra->state = LoadDownloadState(*full);
        }
        std::uint32_t kind = internKind(record);
        // The row's query and IPv6 addresses take their room before the row exists; should a
        // later step fail, they are only unreachable entries.
        std::uint32_t query = 0;
        if (std::string_view text = record.query; !text.empty()) {
            queries_.emplace_back(text);
            query = static_cast<std::uint32_t>(queries_.size());
        }
        std::uint32_t addresses = 0;
        if (record.isIpv6()) {
            Ipv6Addresses& added = ipv6Addresses_.emplace_back();
            std::memcpy(added.source, record.srcAddr6, sizeof added.source);
            std::memcpy(added.destination, record.dstAddr6, sizeof added.destination);
            addresses = static_cast<std::uint32_t>(ipv6Addresses_.size());
        }
        std::uint32_t context = record.hasRequestContext() ? internContext(record) : 0;
        std::uint32_t text = 0;
        void* slot = nullptr;
        try {
            if (extra) {
                extras_.reserve(extras_.size() + 1);  // the push below cannot fail then
            }
            text = texts_.store(static_cast<std::uint32_t>(rowCount_), key.host, key.path);
            slot = nextRowSlot();
            index_.insert(key.hash, text + 1);
        } catch (const std::bad_alloc&) {
            if (context != 0) {
                releaseContext(context);  // no row will use it
            }
            throw;
        }
        Row& stored = *new (slot) Row{};
        std::memcpy(stored.header, record.header, kHeaderBytes);
        stored.text = text;
        stored.kind = kind;
        stored.query = query;
        stored.addresses = addresses;
        stored.context = context;
        if (extra) {
            extras_.push_back(std::move(extra));
            stored.extra = static_cast<std::uint32_t>(extras_.size());
        }
        ++rowCount_;
        publishedRowCount_.store(rowCount_, std::memory_order_release);
        if (wantsBlocks()) {
            blocksWanted_.store(true, std::memory_order_relaxed);
        }
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

StreamStore::RowExtra& StreamStore::extraOf(Row& row) {
    if (row.extra == 0) {
        extras_.reserve(extras_.size() + 1);
        extras_.push_back(std::make_unique<RowExtra>());
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
    return {fields.host, fields.path, hashKey(fields.host, fields.path)};
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
        RowExtra& extra = extraOf(rowAt(row));
        extra.transfer = progress;
        extra.state = LoadDownloadState(record);
    }
    if (auto list = observers()) {
        for (const auto& observer : *list) {
            observer->rowRefreshed(row);
        }
    }
    return row;
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
    std::uint32_t hash = hashKey(host, path);
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
    RowExtra& extra = extraOf(stored);
    if (!extra.record) {
        extra.record = materialize(stored);
    } else if (LoadDownloadState(*extra.record) != kStateDownloading) {
        // A download started now fetches the URL as last seen; a running one keeps its own.
        copyText(extra.record->query, sizeof extra.record->query, queryText(stored));
        fillContext(stored, *extra.record);
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
    const Kind& kind = kinds_[row.kind];
    std::memcpy(out.suffix, kind.suffix, sizeof out.suffix);
    std::memcpy(out.scheme, kind.scheme, sizeof out.scheme);
    std::memcpy(out.typeName, kind.typeName, sizeof out.typeName);
    std::memcpy(out.adapterInfo, kind.adapterInfo, sizeof out.adapterInfo);
    TextArena::Entry text = texts_.at(row.text);
    copyText(out.host, sizeof out.host, text.host);
    copyText(out.path, sizeof out.path, text.path);
    copyText(out.query, sizeof out.query, queryText(row));
    fillContext(row, out);
    if (row.addresses != 0) {
        const Ipv6Addresses& addresses = ipv6Addresses_[row.addresses - 1];
        std::memcpy(out.srcAddr6, addresses.source, sizeof out.srcAddr6);
        std::memcpy(out.dstAddr6, addresses.destination, sizeof out.dstAddr6);
    }
}

// A repeat brings its row's query and request context up to date.
void StreamStore::keepLatestSighting(int found, const StreamFields& record) {
    // Without any query or context so far a repeat need not visit its row.
    std::string_view query = record.query;
    bool context = record.hasRequestContext();
    if (query.empty() && queries_.empty() && !context && contexts_.empty()) {
        return;
    }
    try {
        Row& row = rowAt(found);
        keepLatestQuery(row, query);
        keepLatestContext(row, record);
    } catch (const std::bad_alloc&) {
        // No memory for the new texts: the row keeps what it had.
    }
}

void StreamStore::keepLatestContext(Row& row, const StreamFields& record) {
    if (row.context == 0) {
        if (record.hasRequestContext()) {
            row.context = internContext(record);
        }
        return;
    }
    if (!contexts_[row.context - 1].sameAs(record)) {
        // Taken first: a failed allocation leaves the row with its old context.
        std::uint32_t latest = record.hasRequestContext() ? internContext(record) : 0;
        releaseContext(row.context);
        row.context = latest;
    }
}

// The context's reference (1 + its index), shared with every row that has the same headers;
// counts one more user.
std::uint32_t StreamStore::internContext(const StreamFields& record) {
    if (lastContext_ < contexts_.size() && contexts_[lastContext_].users != 0 &&
        contexts_[lastContext_].sameAs(record)) {
        ++contexts_[lastContext_].users;
        return lastContext_ + 1;
    }
    std::string joined = RequestContext::of(record);
    auto found = contextIndex_.find(joined);
    if (found != contextIndex_.end()) {
        lastContext_ = found->second;
        ++contexts_[lastContext_].users;
        return lastContext_ + 1;
    }
    if (freeContexts_.empty()) {
        contexts_.emplace_back();
        freeContexts_.push_back(static_cast<std::uint32_t>(contexts_.size() - 1));
    }
    std::uint32_t slot = freeContexts_.back();
    RequestContext& context = contexts_[slot];
    context.joined = std::move(joined);
    try {
        contextIndex_.emplace(context.joined, slot);
    } catch (const std::bad_alloc&) {
        context.joined.clear();
        throw;
    }
    freeContexts_.pop_back();
    context.users = 1;
    lastContext_ = slot;
    return slot + 1;
}

void StreamStore::releaseContext(std::uint32_t reference) {
    RequestContext& context = contexts_[reference - 1];
    if (--context.users != 0) {
        return;
    }
    contextIndex_.erase(context.joined);
    std::string().swap(context.joined);
    try {
        freeContexts_.push_back(reference - 1);
    } catch (const std::bad_alloc&) {
        // The slot stays unused; nothing refers to it.
    }
}

void StreamStore::fillContext(const Row& row, DetectedStream& out) const {
    if (row.context == 0) {
        out.referer[0] = out.userAgent[0] = out.cookie[0] = '\0';
        out.httpVersion[0] = out.serverName[0] = '\0';
        return;
    }
    contexts_[row.context - 1].fill(out);
}

std::string_view StreamStore::queryText(const Row& row) const {
    return row.query == 0 ? std::string_view{} : std::string_view(queries_[row.query - 1]);
}

void StreamStore::keepLatestQuery(Row& row, std::string_view query) {
    if (row.query == 0) {
        if (!query.empty()) {
            queries_.emplace_back(query);
            row.query = static_cast<std::uint32_t>(queries_.size());
        }
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
    copyText(out.host, sizeof out.host, text.host);
    copyText(out.path, sizeof out.path, text.path);
    std::memcpy(out.typeName, kinds_[stored.kind].typeName, sizeof out.typeName);
    if (stored.extra != 0) {
        const RowExtra& extra = *extras_[stored.extra - 1];
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
        kindIndex_.clear();
        queries_.clear();
        ipv6Addresses_.clear();
        contexts_.clear();
        contextIndex_.clear();
        freeContexts_.clear();
        lastContext_ = 0;
        lastKind_ = 0;
        knownKinds_ = {};
        dropped_.store(0, std::memory_order_relaxed);
    }
    oldChunks.clear();  // unmapped outside the lock
    oldSpare = HugeBlock();
    if (auto list = observers()) {
        for (const auto& observer : *list) {
            observer->storeReset();
        }
    }
}

bool StreamStore::removable(const Row& row) const {
    if (row.extra == 0) {
        return true;
    }
    const RowExtra& extra = *extras_[row.extra - 1];
    // A download that runs, waits or is paused keeps its row.
    return !extra.record || !HoldsDownload(LoadDownloadState(*extra.record));
}

// The kept rows are laid out afresh, with their texts and index; everything is built before
// the old rows are touched, so that running out of memory leaves the list whole.
std::vector<int> StreamStore::removeRows(const std::vector<int>& rows) {
    std::vector<int> moved;
    std::vector<HugeBlock> oldChunks;
    {
        std::lock_guard lock(mutex_);
        try {
            std::vector<bool> gone(static_cast<std::size_t>(rowCount_), false);
            bool any = false;
            for (int row : rows) {
                if (row >= 0 && row < rowCount_ && removable(rowAt(row))) {
                    any = any || !gone[static_cast<std::size_t>(row)];
                    gone[static_cast<std::size_t>(row)] = true;
                }
            }
            if (!any) {
                return {};
            }
            moved.assign(static_cast<std::size_t>(rowCount_), -1);
            std::vector<HugeBlock> chunks;
            TextArena texts;
            StreamHashIndex index;
            int kept = 0;
            for (int row = 0; row < rowCount_; ++row) {
                if (gone[static_cast<std::size_t>(row)]) {
                    continue;
                }
                const auto at = static_cast<std::size_t>(kept);
                if (at / chunkRows() == chunks.size()) {
                    chunks.emplace_back(chunkRows() * sizeof(Row), false);
                }
                const Row& old = rowAt(row);
                const TextArena::Entry text = texts_.at(old.text);
                const std::uint32_t stored =
                    texts.store(static_cast<std::uint32_t>(kept), text.host, text.path);
                index.insert(hashKey(text.host, text.path), stored + 1);
                Row& fresh =
                    *new (&static_cast<Row*>(chunks.back().data())[at % chunkRows()]) Row(old);
                fresh.text = stored;
                moved[static_cast<std::size_t>(row)] = kept++;
            }
            // Nothing below allocates.
            for (int row = 0; row < rowCount_; ++row) {
                if (gone[static_cast<std::size_t>(row)]) {
                    forgetRow(rowAt(row));
                }
            }
            oldChunks.swap(chunks_);
            chunks_ = std::move(chunks);
            texts_ = std::move(texts);
            index_.swap(index);
            rowCount_ = kept;
            publishedRowCount_.store(kept, std::memory_order_release);
        } catch (const std::bad_alloc&) {
            return {};
        }
    }
    oldChunks.clear();  // unmapped outside the lock
    if (auto list = observers()) {
        for (const auto& observer : *list) {
            observer->storeReset();
        }
    }
    return moved;
}

// A row taken out gives back its share of the request headers and its extra; its query and
// addresses stay in their tables until the next reset.
void StreamStore::forgetRow(Row& row) {
    if (row.context != 0) {
        releaseContext(row.context);
        row.context = 0;
    }
    if (row.extra != 0) {
        extras_[row.extra - 1].reset();
        row.extra = 0;
    }
}

std::uint32_t StreamStore::internKind(const StreamFields& record) {
    // The detector's key tells a kind seen before without a look at its texts.
    // The key's low bits tell the suffix row and the scheme apart; its high bits, the snapshot.
    KnownKind& known = knownKinds_[record.kindKey % knownKinds_.size()];
    if (record.kindKey != 0 && record.kindKey == known.key) {
        return known.kind;
    }
    const std::uint32_t kind = findOrAddKind(record);
    known = {record.kindKey, kind};
    return kind;
}

std::uint32_t StreamStore::findOrAddKind(const StreamFields& record) {
    if (lastKind_ < kinds_.size() && kinds_[lastKind_].sameAs(record)) {
        return lastKind_;
    }
    if (kinds_.size() <= kLinearKinds) {
        // Few kinds (the usual case): found by comparing the record's fields in place, without
        // building a kind or a key.
        for (std::size_t i = 0; i < kinds_.size(); ++i) {
            if (kinds_[i].sameAs(record)) {
                lastKind_ = static_cast<std::uint32_t>(i);
                return lastKind_;
            }
        }
    }
    Kind kind = Kind::of(record);
    std::string key(kind.bytes());
    auto found = kindIndex_.find(key);
    if (found != kindIndex_.end()) {
        lastKind_ = found->second;
        return lastKind_;
    }
    lastKind_ = static_cast<std::uint32_t>(kinds_.size());
    kinds_.push_back(kind);
    kindIndex_.emplace(std::move(key), lastKind_);
    return lastKind_;
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

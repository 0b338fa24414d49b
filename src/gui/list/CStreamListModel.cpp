#include "gui/list/CStreamListModel.h"

#include "core/download/common/TransferText.h"
#include "core/session/MonitorSession.h"
#include "core/store/ReadablePath.h"

#include <QElapsedTimer>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace {
struct ColumnSpec {
    const char* header;
    int width;
    const char* usualWidest;  // a text the column shows often and should show whole
};
constexpr ColumnSpec kColumns[CStreamListModel::kColumnCount] = {
    {"Host", 150, ""},
    {"ＵＲＬ", 150, ""},
    {"サイズ", 60, "1234.56 MB"},
    {"進行状況", 50, "再試行 4/4"},
    {"時間", 80, "59分 59秒"},
    {"転送速度", 60, "12345 KB/S"},
    {"種別", 100, ""},
};
// Rows read under one lock of the store, and between two looks at the clock.
constexpr int kRowsPerRead = 128;
// Rows sorted and merged in at once: sorting them must fit in a turn of the event loop too.
constexpr std::size_t kMaxBatchRows = 4096;
// Merging a batch into an order shorter than this takes a millisecond or so.
constexpr std::size_t kShortOrderRows = std::size_t{1} << 16;

char lowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool containsIgnoringCase(std::string_view text, std::string_view lowerNeedle) {
    return std::search(text.begin(), text.end(), lowerNeedle.begin(), lowerNeedle.end(),
                       [](char a, char b) { return lowerAscii(a) == b; }) != text.end();
}

std::string_view textOf(const char* field, std::size_t capacity) {
    return std::string_view(field, strnlen(field, capacity));
}

// Digit runs compare by their value, so "clip-9" comes before "clip-10".
int naturalCompare(std::string_view a, std::string_view b) {
    std::size_t i = 0;
    std::size_t j = 0;
    auto digit = [](char c) { return c >= '0' && c <= '9'; };
    while (i < a.size() && j < b.size()) {
        if (digit(a[i]) && digit(b[j])) {
            while (i < a.size() && a[i] == '0')
                ++i;
            while (j < b.size() && b[j] == '0')
                ++j;
            std::size_t ei = i;
            std::size_t ej = j;
            while (ei < a.size() && digit(a[ei]))
                ++ei;
            while (ej < b.size() && digit(b[ej]))
                ++ej;
            if (ei - i != ej - j) {
                return ei - i < ej - j ? -1 : 1;
            }
            if (int c = a.substr(i, ei - i).compare(b.substr(j, ej - j)); c != 0) {
                return c;
            }
            i = ei;
            j = ej;
            continue;
        }
        if (a[i] != b[j]) {
            return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]) ? -1 : 1;
        }
        ++i;
        ++j;
    }
    const std::size_t restA = a.size() - i;
    const std::size_t restB = b.size() - j;
    return restA == restB ? 0 : (restA < restB ? -1 : 1);
}

// The amount a column shows, so that it sorts by value; negative where it shows none.
double amountOf(const TransferProgress& transfer, int column) {
    using Stage = TransferProgress::Stage;
    switch (column) {
        case CStreamListModel::kSize:
            return transfer.size ? static_cast<double>(*transfer.size) : -1;
        case CStreamListModel::kProgress:
            switch (transfer.stage) {
                case Stage::kPercent:
                    return transfer.percent;
                case Stage::kRecorded:
                    return transfer.mediaSeconds;
                case Stage::kRetrying:
                    return transfer.tryNumber;
                default:
                    return -1;
            }
        case CStreamListModel::kTime:
            return transfer.secondsLeft ? *transfer.secondsLeft : -1;
        case CStreamListModel::kRate:
            return transfer.rate ? *transfer.rate : -1;
        default:
            return -1;
    }
}
}  // namespace

CStreamListModel::CStreamListModel(const MonitorSession& session, QObject* parent)
    : QAbstractTableModel(parent), session_(session), lastCount_(typeCounts_.end()) {}

int CStreamListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(order_.size());
}

int CStreamListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumnCount;
}

const StreamRowView* CStreamListModel::textsOf(int storeRow) const {
    if (storeRow != cachedRow_) {
        cachedRow_ = -1;
        if (!session_.rowView(storeRow, cached_)) {
            return nullptr;
        }
        cachedRow_ = storeRow;
    }
    return &cached_;
}

int CStreamListModel::storeRow(int viewRow) const {
    return viewRow >= 0 && viewRow < static_cast<int>(order_.size())
               ? static_cast<int>(order_[static_cast<std::size_t>(viewRow)])
               : -1;
}

int CStreamListModel::viewRow(int storeRow) const {
    if (storeRow < 0) {
        return -1;
    }
    const auto at = static_cast<std::size_t>(storeRow);
    if (at < order_.size() && order_[at] == static_cast<std::uint32_t>(storeRow)) {
        return storeRow;  // in the order first seen, unfiltered: no search
    }
    const auto found =
        std::find(order_.begin(), order_.end(), static_cast<std::uint32_t>(storeRow));
    return found == order_.end() ? -1 : static_cast<int>(found - order_.begin());
}

QVariant CStreamListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= static_cast<int>(order_.size())) {
        return {};
    }
    const int row = storeRow(index.row());
    if (role == kStoreRowRole) {
        return row;
    }
    if (role == Qt::TextAlignmentRole) {
        return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));
    }
    if (role != Qt::DisplayRole && role != kPercentRole) {
        return {};
    }
    const StreamRowView* texts = textsOf(row);
    if (texts == nullptr) {
        return {};
    }
    if (role == kPercentRole) {
        const double percent = index.column() == kProgress ? percentOf(texts->transfer) : -1;
        return percent < 0 ? QVariant() : QVariant(percent);
    }
    switch (index.column()) {
        case kHost:
            return QString::fromUtf8(texts->host);
        case kUrl:
            return QString::fromStdString(
                ReadablePath::of(textOf(texts->path, sizeof texts->path)));
        case kSize:
            return QString::fromStdString(TransferText::size(texts->transfer));
        case kProgress:
            return QString::fromStdString(TransferText::progress(texts->transfer));
        case kTime:
            return QString::fromStdString(TransferText::timeLeft(texts->transfer));
        case kRate:
            return QString::fromStdString(TransferText::rate(texts->transfer));
        case kType:
            return QString::fromUtf8(texts->typeName);
        default:
            return {};
    }
}

QVariant CStreamListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= kColumnCount) {
        return {};
    }
    if (role == Qt::DisplayRole || role == Qt::ToolTipRole) {
        return headerText(section);  // the tool tip shows a header cut by a narrow column
    }
    if (role == Qt::TextAlignmentRole) {
        return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));
    }
    return {};
}

double CStreamListModel::percentOf(const TransferProgress& transfer) {
    if (transfer.stage != TransferProgress::Stage::kPercent) {
        return -1;
    }
    return std::clamp(static_cast<double>(transfer.percent), 0.0, 100.0);
}

// ---- taking rows ---------------------------------------------------------------------------

bool CStreamListModel::passes(const StreamRowView& texts) const {
    if (!typeBytes_.empty() && typeBytes_ != textOf(texts.typeName, sizeof texts.typeName)) {
        return false;
    }
    if (filterBytes_.empty()) {
        return true;
    }
    const std::string_view path = textOf(texts.path, sizeof texts.path);
    return containsIgnoringCase(textOf(texts.host, sizeof texts.host), filterBytes_) ||
           containsIgnoringCase(path, filterBytes_) ||
           (ReadablePath::changes(path) &&
            containsIgnoringCase(ReadablePath::of(path), filterBytes_));
}

std::string CStreamListModel::keyOf(const StreamRowView& texts) const {
    auto text = [](const char* field) { return std::string(field); };
    auto amount = [&texts](int column) {
        const double value = amountOf(texts.transfer, column);
        char key[40];
        // Rows without an amount sort first, then amounts in order, as fixed-width text.
        std::snprintf(key, sizeof key, value < 0 ? "0" : "1%020.3f", value);
        return std::string(key);
    };
    switch (sortColumn_) {
        case kHost:
            return text(texts.host);
        case kUrl:
            return ReadablePath::of(textOf(texts.path, sizeof texts.path));
        case kSize:
        case kProgress:
        case kTime:
        case kRate:
            return amount(sortColumn_);
        case kType:
            return text(texts.typeName);
        default:
            return {};
    }
}

// Sort order of two store rows; equal keys keep the order first seen.
bool CStreamListModel::before(std::uint32_t a, std::uint32_t b) const {
    if (sortColumn_ != kNoSort) {
        const int c = naturalCompare(keys_[a], keys_[b]);
        if (c != 0) {
            return sortOrder_ == Qt::AscendingOrder ? c < 0 : c > 0;
        }
    }
    return a < b;
}

void CStreamListModel::countType(const StreamRowView& texts) {
    const std::string_view type = textOf(texts.typeName, sizeof texts.typeName);
    if (lastCount_ == typeCounts_.end() || lastType_ != type) {
        lastType_.assign(type);
        lastCount_ = typeCounts_.try_emplace(QString::fromUtf8(texts.typeName), 0).first;
    }
    ++lastCount_->second;
}

// Reads store rows from `from` on until `upTo` or the budget runs out; returns those that
// pass the filters, in sort order. New rows (past the taken ones) are counted by type.
std::vector<std::uint32_t> CStreamListModel::scan(int& from, int upTo, int budgetMs,
                                                  bool countNew) {
    QElapsedTimer clock;
    clock.start();
    std::vector<std::uint32_t> batch;
    readBuffer_.resize(kRowsPerRead);
    bool countsChanged = false;
    while (from < upTo && clock.elapsed() < budgetMs && batch.size() < kMaxBatchRows) {
        const int read =
            session_.rowView(from, std::min(kRowsPerRead, upTo - from), readBuffer_.data());
        if (read <= 0) {
            break;
        }
        for (int i = 0; i < read; ++i, ++from) {
            const StreamRowView& texts = readBuffer_[static_cast<std::size_t>(i)];
            if (countNew && from >= taken_) {
                countType(texts);
                countsChanged = true;
                taken_ = from + 1;
            }
            if (!passes(texts)) {
                continue;
            }
            if (sortColumn_ != kNoSort) {
                if (keys_.size() <= static_cast<std::size_t>(from)) {
                    keys_.resize(static_cast<std::size_t>(from) + 1);
                }
                keys_[static_cast<std::size_t>(from)] = keyOf(texts);
            }
            batch.push_back(static_cast<std::uint32_t>(from));
        }
    }
    if (sortColumn_ != kNoSort) {
        std::sort(batch.begin(), batch.end(),
                  [this](std::uint32_t a, std::uint32_t b) { return before(a, b); });
    }
    if (countsChanged) {
        emit typeCountsChanged();
    }
    return batch;
}

// Merges a sorted batch into a sorted order; `insertedAt` receives, for each batch row, the
// position in the old order it went before.
void CStreamListModel::mergeInto(std::vector<std::uint32_t>& order,
                                 std::vector<std::uint32_t>& batch,
                                 std::vector<std::size_t>* insertedAt) const {
    if (batch.empty()) {
        return;
    }
    const auto less = [this](std::uint32_t a, std::uint32_t b) { return before(a, b); };
    if (order.empty() || !less(batch.front(), order.back())) {
        if (insertedAt != nullptr) {
            insertedAt->assign(batch.size(), order.size());
        }
        order.insert(order.end(), batch.begin(), batch.end());
        return;
    }
    std::vector<std::uint32_t> merged;
    merged.reserve(order.size() + batch.size());
    auto from = order.begin();
    for (std::uint32_t row : batch) {
        const auto at = std::upper_bound(from, order.end(), row, less);
        merged.insert(merged.end(), from, at);
        if (insertedAt != nullptr) {
            insertedAt->push_back(static_cast<std::size_t>(at - order.begin()));
        }
        merged.push_back(row);
        from = at;
    }
    merged.insert(merged.end(), from, order.end());
    order.swap(merged);
}

bool CStreamListModel::advance(int storeRows, int budgetMs) {
    if (rebuilding_) {
        continueRebuild(storeRows, budgetMs);
    } else {
        takeNewRows(storeRows, budgetMs);
    }
    return rebuilding_ || taken_ < storeRows;
}

void CStreamListModel::takeNewRows(int storeRows, int budgetMs) {
    int from = taken_;
    std::vector<std::uint32_t> batch = scan(from, storeRows, budgetMs, true);
    if (batch.empty()) {
        return;
    }
    // The new rows come in at the end, then move to their places in one layout change (a
    // layout change may not change the row count).
    const std::size_t oldSize = order_.size();
    beginInsertRows(QModelIndex(), static_cast<int>(oldSize),
                    static_cast<int>(oldSize + batch.size()) - 1);
    order_.insert(order_.end(), batch.begin(), batch.end());
    endInsertRows();
    if (sortColumn_ == kNoSort || oldSize == 0 || !before(batch.front(), order_[oldSize - 1])) {
        return;  // they belong at the end
    }
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    order_.resize(oldSize);
    std::vector<std::size_t> insertedAt;
    insertedAt.reserve(batch.size());
    mergeInto(order_, batch, &insertedAt);
    const QModelIndexList previous = persistentIndexList();
    QModelIndexList after;
    after.reserve(previous.size());
    for (const QModelIndex& old : previous) {
        const auto row = static_cast<std::size_t>(old.row());
        std::size_t now;
        if (row >= oldSize) {
            now = insertedAt[row - oldSize] + (row - oldSize);
        } else {
            now = row + static_cast<std::size_t>(
                            std::upper_bound(insertedAt.begin(), insertedAt.end(), row) -
                            insertedAt.begin());
        }
        after.push_back(index(static_cast<int>(now), old.column()));
    }
    changePersistentIndexList(previous, after);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

void CStreamListModel::startRebuild() {
    rebuilding_ = true;
    build_ = Build{};
    if (sortColumn_ == kNoSort) {
        keys_.clear();
        keys_.shrink_to_fit();
    }
}

// Scanning a batch and merging it into a long order each take about a turn's budget, so they
// take turns of their own; into a short order a batch is merged at once.
void CStreamListModel::continueRebuild(int storeRows, int budgetMs) {
    if (!build_.batch.empty()) {
        mergeInto(build_.order, build_.batch, nullptr);
        build_.batch.clear();
        return;
    }
    build_.batch = scan(build_.scanned, storeRows, budgetMs, true);
    if (build_.order.size() < kShortOrderRows) {
        mergeInto(build_.order, build_.batch, nullptr);
        build_.batch.clear();
    }
    if (build_.scanned >= storeRows && build_.batch.empty()) {
        rebuilding_ = false;
        publish(std::move(build_.order));
        build_ = Build{};
    }
}

// Shows a new order at once. It may hold other rows than the old one, which only a reset can
// tell a view; the list puts its selection back afterwards (viewRows()).
void CStreamListModel::publish(std::vector<std::uint32_t> order) {
    beginResetModel();
    order_ = std::move(order);
    cachedRow_ = -1;
    endResetModel();
}

std::vector<int> CStreamListModel::viewRows(const std::vector<int>& storeRows) const {
    std::vector<int> rows;
    rows.reserve(storeRows.size());
    constexpr std::size_t kFewRows = 8;
    if (storeRows.size() <= kFewRows) {
        for (int row : storeRows) {
            rows.push_back(viewRow(row));
        }
        return rows;
    }
    std::vector<int> position(static_cast<std::size_t>(taken_), -1);
    for (std::size_t i = 0; i < order_.size(); ++i) {
        if (order_[i] < position.size()) {
            position[order_[i]] = static_cast<int>(i);
        }
    }
    for (int row : storeRows) {
        rows.push_back(row >= 0 && row < taken_ ? position[static_cast<std::size_t>(row)] : -1);
    }
    return rows;
}

void CStreamListModel::sort(int column, Qt::SortOrder order) {
    const int wanted = column >= 0 && column < kColumnCount ? column : kNoSort;
    if (wanted == sortColumn_ && order == sortOrder_ && !rebuilding_) {
        return;
    }
    sortColumn_ = wanted;
    sortOrder_ = order;
    startRebuild();
    emit workPending();
}

void CStreamListModel::setFilterText(const QString& text) {
    if (text == filterText_) {
        return;
    }
    filterText_ = text;
    filterBytes_ = text.toUtf8().toStdString();
    std::transform(filterBytes_.begin(), filterBytes_.end(), filterBytes_.begin(), lowerAscii);
    startRebuild();
    emit workPending();
}

void CStreamListModel::setTypeFilter(const QString& typeName) {
    if (typeName == typeFilter_) {
        return;
    }
    typeFilter_ = typeName;
    typeBytes_ = typeName.toUtf8().toStdString();
    startRebuild();
    emit workPending();
}

void CStreamListModel::refreshRow(int storeRow) {
    if (storeRow == cachedRow_) {
        cachedRow_ = -1;
    }
    if (storeRow < 0 || storeRow >= taken_) {
        return;
    }
    if (sortColumn_ >= kSize && sortColumn_ <= kRate && !rebuilding_) {
        repositionRow(storeRow);
    }
    const int row = viewRow(storeRow);
    if (row >= 0) {
        emit dataChanged(index(row, kSize), index(row, kRate), {Qt::DisplayRole});
    }
}

// A status column is the sort key: the row moves to where its new text belongs.
void CStreamListModel::repositionRow(int storeRow) {
    const int at = viewRow(storeRow);
    const StreamRowView* texts = at < 0 ? nullptr : textsOf(storeRow);
    if (texts == nullptr) {
        return;
    }
    std::string key = keyOf(*texts);
    if (key == keys_[static_cast<std::size_t>(storeRow)]) {
        return;
    }
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    const QModelIndexList previous = persistentIndexList();
    order_.erase(order_.begin() + at);
    keys_[static_cast<std::size_t>(storeRow)] = std::move(key);
    const auto place =
        std::upper_bound(order_.begin(), order_.end(), static_cast<std::uint32_t>(storeRow),
                         [this](std::uint32_t a, std::uint32_t b) { return before(a, b); });
    const int to = static_cast<int>(place - order_.begin());
    order_.insert(place, static_cast<std::uint32_t>(storeRow));
    QModelIndexList after;
    after.reserve(previous.size());
    for (const QModelIndex& old : previous) {
        int row = old.row();
        if (row == at) {
            row = to;
        } else {
            row -= row > at ? 1 : 0;
            row += row >= to ? 1 : 0;
        }
        after.push_back(index(row, old.column()));
    }
    changePersistentIndexList(previous, after);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

void CStreamListModel::storeRowsMoved(const std::vector<int>& moved,
                                      const std::vector<QString>& goneTypes) {
    auto newRow = [&moved](std::uint32_t row) { return row < moved.size() ? moved[row] : -1; };
    beginResetModel();
    std::vector<std::uint32_t> order;
    order.reserve(order_.size());
    for (std::uint32_t row : order_) {
        if (const int now = newRow(row); now >= 0) {
            order.push_back(static_cast<std::uint32_t>(now));
        }
    }
    order_.swap(order);
    // Rows only move up, so a forward pass never overwrites a key still to be moved.
    for (std::size_t row = 0; row < keys_.size() && row < moved.size(); ++row) {
        if (moved[row] >= 0 && static_cast<std::size_t>(moved[row]) != row) {
            keys_[static_cast<std::size_t>(moved[row])] = std::move(keys_[row]);
        }
    }
    int taken = 0;
    for (int row = 0; row < taken_; ++row) {
        taken += newRow(static_cast<std::uint32_t>(row)) >= 0 ? 1 : 0;
    }
    taken_ = taken;
    if (rebuilding_) {
        startRebuild();
    }
    cachedRow_ = -1;
    for (const QString& type : goneTypes) {
        const auto found = typeCounts_.find(type);
        if (found != typeCounts_.end() && --found->second <= 0) {
            typeCounts_.erase(found);
        }
    }
    lastCount_ = typeCounts_.end();
    endResetModel();
    emit typeCountsChanged();
}

void CStreamListModel::clear() {
    beginResetModel();
    order_.clear();
    order_.shrink_to_fit();
    keys_.clear();
    keys_.shrink_to_fit();
    taken_ = 0;
    rebuilding_ = false;
    build_ = Build{};
    cachedRow_ = -1;
    typeCounts_.clear();
    lastCount_ = typeCounts_.end();
    endResetModel();
    emit typeCountsChanged();
}

QString CStreamListModel::headerText(int column) {
    return QString::fromUtf8(kColumns[column].header);
}

int CStreamListModel::defaultWidth(int column) {
    return kColumns[column].width;
}

QString CStreamListModel::usualWidestText(int column) {
    return QString::fromUtf8(kColumns[column].usualWidest);
}

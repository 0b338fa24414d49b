#pragma once

#include <QAbstractTableModel>
#include <QString>

#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include "core/store/StreamRowView.h"

class MonitorSession;

// What the stream list shows: the session's rows, read from the store when asked for, in
// sort order and through the filters. The model keeps only an order of store rows (and,
// while sorted, the sort column's text of each listed row), never a copy of every row's
// texts; painting reads one row at a time under the store's lock.
//
// New rows and a new sort or filter are taken in slices (advance()), so that a large list
// never holds up the event loop for long. User-interface thread only.
class CStreamListModel : public QAbstractTableModel {
    Q_OBJECT
  public:
    enum Column { kHost, kUrl, kSize, kProgress, kTime, kRate, kType, kColumnCount };
    enum Role {
        // The progress in percent (0 to 100) as a double; invalid when the text holds none.
        kPercentRole = Qt::UserRole + 1,
        // The store row behind a view row.
        kStoreRowRole,
    };
    static constexpr int kNoSort = -1;

    explicit CStreamListModel(const MonitorSession& session, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

    // Takes the store's rows up to `storeRows` and any pending re-sort, for about
    // `budgetMs`; true when work is left for a later turn.
    bool advance(int storeRows, int budgetMs);
    // The store row's texts changed.
    void refreshRow(int storeRow);
    void clear();
    // Rows went from the store: `moved` gives each old store row its new one (-1: gone),
    // `goneTypes` the type names of the rows that went.
    void storeRowsMoved(const std::vector<int>& moved, const std::vector<QString>& goneTypes);

    // Shows only rows whose host or path holds `text` (ignoring ASCII case), the path as
    // captured or as shown (percent-escapes decoded); empty: all.
    void setFilterText(const QString& text);
    QString filterText() const { return filterText_; }
    // Shows only rows of this type name; empty: all.
    void setTypeFilter(const QString& typeName);
    QString typeFilter() const { return typeFilter_; }
    bool filtered() const { return !filterBytes_.empty() || !typeBytes_.empty(); }
    int sortColumn() const { return sortColumn_; }
    Qt::SortOrder sortOrder() const { return sortOrder_; }

    // Store rows taken so far (shown or filtered out).
    int takenRows() const { return taken_; }
    // A new sort or filter is still being applied; the rows shown are the old ones.
    bool rebuilding() const { return rebuilding_; }
    int storeRow(int viewRow) const;
    // The view row of a store row, -1 when it is not shown.
    int viewRow(int storeRow) const;
    // The same for many rows at once.
    std::vector<int> viewRows(const std::vector<int>& storeRows) const;
    // How many taken rows each type name has.
    const std::map<QString, int>& typeCounts() const { return typeCounts_; }

    static QString headerText(int column);
    // The width a column starts with, at least; see usualWidestText().
    static int defaultWidth(int column);
    // The widest text a status column shows often (a size, "再試行 4/4", a time, a rate), which
    // its starting width shows whole in the list's font; empty for the other columns.
    static QString usualWidestText(int column);
    // The percent a progress bar shows, 0 to 100, or a negative value for none.
    static double percentOf(const TransferProgress& transfer);

  signals:
    void typeCountsChanged();
    // A new sort or filter waits for advance().
    void workPending();

  private:
    // One pass over store rows into an order being built.
    struct Build {
        std::vector<std::uint32_t> order;
        std::vector<std::uint32_t> batch;  // scanned, merged into `order` in the next turn
        int scanned = 0;
    };

    const StreamRowView* textsOf(int storeRow) const;
    bool passes(const StreamRowView& texts) const;
    void countType(const StreamRowView& texts);
    std::string keyOf(const StreamRowView& texts) const;
    bool before(std::uint32_t a, std::uint32_t b) const;
    std::vector<std::uint32_t> scan(int& from, int upTo, int budgetMs, bool countNew);
    void mergeInto(std::vector<std::uint32_t>& order, std::vector<std::uint32_t>& batch,
                   std::vector<std::size_t>* insertedAt) const;
    void takeNewRows(int storeRows, int budgetMs);
    void continueRebuild(int storeRows, int budgetMs);
    void startRebuild();
    void publish(std::vector<std::uint32_t> order);
    void repositionRow(int storeRow);

    const MonitorSession& session_;
    std::vector<std::uint32_t> order_;  // view row -> store row
    int taken_ = 0;
    bool rebuilding_ = false;
    Build build_;

    int sortColumn_ = kNoSort;
    Qt::SortOrder sortOrder_ = Qt::AscendingOrder;
    // By store row, while sorted. A deque: growing it never moves the keys it has (a million
    // of them take tens of milliseconds to move).
    std::deque<std::string> keys_;

    QString filterText_;
    std::string filterBytes_;  // lower-case UTF-8
    QString typeFilter_;
    std::string typeBytes_;

    std::map<QString, int> typeCounts_;
    std::string lastType_;
    std::map<QString, int>::iterator lastCount_;

    std::vector<StreamRowView> readBuffer_;
    mutable int cachedRow_ = -1;
    mutable StreamRowView cached_{};
};

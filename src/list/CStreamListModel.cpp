#include "list/CStreamListModel.h"

#include "detect/DetectedStream.h"

namespace {
struct ColumnSpec {
    const char* header;
    int width;
};
constexpr ColumnSpec kColumns[CStreamListModel::kColumnCount] = {
    {"Host", 150},    {"ＵＲＬ", 150}, {"サイズ", 60},
    {"進行状況", 50}, {"時間", 80},    {"転送速度", 60},
};
}  // namespace

CStreamListModel::CStreamListModel(QObject* parent) : QAbstractTableModel(parent) {}

int CStreamListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int CStreamListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumnCount;
}

QVariant CStreamListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= static_cast<int>(rows_.size())) {
        return {};
    }
    const Row& row = rows_[static_cast<std::size_t>(index.row())];
    switch (role) {
        case Qt::DisplayRole:
            switch (index.column()) {
                case kHost:
                    return row.host;
                case kUrl:
                    return row.path;
                default:
                    return row.status[static_cast<std::size_t>(index.column() - kSize)];
            }
        case Qt::TextAlignmentRole:
            return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));
        case kRecordRole:
            return QVariant::fromValue(static_cast<void*>(row.record));
        default:
            return {};
    }
}

QVariant CStreamListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= kColumnCount) {
        return {};
    }
    if (role == Qt::DisplayRole) {
        return headerText(section);
    }
    if (role == Qt::TextAlignmentRole) {
        return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));
    }
    return {};
}

void CStreamListModel::appendRecords(const std::vector<DetectedStream*>& records) {
    if (records.empty()) {
        return;
    }
    const int first = static_cast<int>(rows_.size());
    beginInsertRows(QModelIndex(), first, first + static_cast<int>(records.size()) - 1);
    rows_.reserve(rows_.size() + records.size());
    for (DetectedStream* record : records) {
        rowOf_.emplace(record, static_cast<int>(rows_.size()));
        rows_.push_back(
            {record, QString::fromUtf8(record->host), QString::fromUtf8(record->path), {}});
    }
    endInsertRows();
}

void CStreamListModel::refreshRecord(const DetectedStream* record, const StatusTexts& texts) {
    const int row = rowOf(record);
    if (row < 0) {
        return;
    }
    rows_[static_cast<std::size_t>(row)].status = texts;
    emit dataChanged(index(row, kSize), index(row, kRate), {Qt::DisplayRole});
}

void CStreamListModel::clear() {
    beginResetModel();
    rows_.clear();
    rowOf_.clear();
    endResetModel();
}

DetectedStream* CStreamListModel::recordAt(int row) const {
    if (row < 0 || row >= static_cast<int>(rows_.size())) {
        return nullptr;
    }
    return rows_[static_cast<std::size_t>(row)].record;
}

int CStreamListModel::rowOf(const DetectedStream* record) const {
    const auto it = rowOf_.find(record);
    return it == rowOf_.end() ? -1 : it->second;
}

QString CStreamListModel::headerText(int column) {
    return QString::fromUtf8(kColumns[column].header);
}

int CStreamListModel::defaultWidth(int column) {
    return kColumns[column].width;
}

#include "gui/list/CStreamListModel.h"

#include "core/store/StreamRowTexts.h"

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

void CStreamListModel::appendRows(const std::vector<StreamRowTexts>& rows) {
    if (rows.empty()) {
        return;
    }
    const int first = static_cast<int>(rows_.size());
    beginInsertRows(QModelIndex(), first, first + static_cast<int>(rows.size()) - 1);
    for (const StreamRowTexts& texts : rows) {
        // A new row shows host and path only; its status comes with its first refresh.
        rows_.push_back({QString::fromUtf8(texts.host), QString::fromUtf8(texts.path), {}});
    }
    endInsertRows();
}

void CStreamListModel::refreshRow(int row, const StreamRowTexts& texts) {
    if (row < 0 || row >= static_cast<int>(rows_.size())) {
        return;
    }
    takeStatus(rows_[static_cast<std::size_t>(row)], texts);
    emit dataChanged(index(row, kSize), index(row, kRate), {Qt::DisplayRole});
}

void CStreamListModel::takeStatus(Row& row, const StreamRowTexts& texts) {
    row.status = {QString::fromUtf8(texts.sizeText), QString::fromUtf8(texts.progressText),
                  QString::fromUtf8(texts.timeText), QString::fromUtf8(texts.rateText)};
}

void CStreamListModel::clear() {
    beginResetModel();
    rows_.clear();
    endResetModel();
}

QString CStreamListModel::headerText(int column) {
    return QString::fromUtf8(kColumns[column].header);
}

int CStreamListModel::defaultWidth(int column) {
    return kColumns[column].width;
}

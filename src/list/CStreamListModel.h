#pragma once

#include <QAbstractTableModel>
#include <QString>

#include <array>
#include <unordered_map>
#include <vector>

struct DetectedStream;

// The rows of the stream list, one per stored record, in the order of their first sighting.
// Lives on the user-interface thread only; texts are cached as they were handed over, so
// painting never reads a record that a download worker is writing.
class CStreamListModel : public QAbstractTableModel {
    Q_OBJECT
  public:
    enum Column { kHost, kUrl, kSize, kProgress, kTime, kRate, kColumnCount };
    static constexpr int kRecordRole = Qt::UserRole + 1;

    // Sizes, progress, time and rate, in this order.
    using StatusTexts = std::array<QString, 4>;

    explicit CStreamListModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    // Appends one row per record (host and path shown, status columns empty).
    void appendRecords(const std::vector<DetectedStream*>& records);
    // Rewrites the four status columns of the record's row; unknown records are ignored.
    void refreshRecord(const DetectedStream* record, const StatusTexts& texts);
    void clear();

    DetectedStream* recordAt(int row) const;
    int rowOf(const DetectedStream* record) const;

    static QString headerText(int column);
    static int defaultWidth(int column);

  private:
    struct Row {
        DetectedStream* record;
        QString host;
        QString path;
        StatusTexts status;
    };
    std::vector<Row> rows_;
    std::unordered_map<const DetectedStream*, int> rowOf_;
};

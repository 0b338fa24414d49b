#pragma once

#include <QAbstractTableModel>
#include <QString>

#include <array>
#include <vector>

struct StreamRowTexts;

// What the stream list shows: one row per stored stream, in the order of the store's rows.
// Lives on the user-interface thread only; it keeps copies of the texts as they were handed
// over, so painting never reads a record that a download worker is writing.
class CStreamListModel : public QAbstractTableModel {
    Q_OBJECT
  public:
    enum Column { kHost, kUrl, kSize, kProgress, kTime, kRate, kColumnCount };
    explicit CStreamListModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    // Appends the rows (host and path) in one insertion.
    void appendRows(const std::vector<StreamRowTexts>& rows);
    // Rewrites the four status columns of a row; rows not shown yet are ignored.
    void refreshRow(int row, const StreamRowTexts& texts);
    void clear();

    static QString headerText(int column);
    static int defaultWidth(int column);

  private:
    struct Row {
        QString host;
        QString path;
        std::array<QString, 4> status;  // size, progress, time, rate
    };
    static void takeStatus(Row& row, const StreamRowTexts& texts);

    std::vector<Row> rows_;
};

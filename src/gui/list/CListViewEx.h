#pragma once

#include <QHeaderView>
#include <QTableView>

class QHelpEvent;

// The report-style list of the stream list. Draws its rows itself: a selected row is
// highlighted across all columns out to the right edge of the window, unselected rows are
// white, and texts too wide for their column end in "..." (the whole text shows as a tool tip).
// A cell whose data holds a number at kBarRole draws a progress bar of that percent under its
// text. One column may take the width the window has beyond the other columns.
//
// A table view underneath: it keeps nothing per row, so a million rows lay out at once.
class CListViewEx : public QTableView {
    Q_OBJECT
  public:
    static constexpr int kFirstCellInset = 2;
    static constexpr int kOtherCellInset = 6;
    static constexpr int kSpringBackWidth = 10;
    static constexpr int kBarRole = Qt::UserRole + 1;

    explicit CListViewEx(QWidget* parent = nullptr);

    QHeaderView* header() const { return horizontalHeader(); }

    // Switches whole-row highlight and the owner drawing on or off; true when it changed.
    bool EnableFullRowSelect(bool on);
    bool fullRowSelect() const { return fullRowSelect_; }
    // `column` grows to fill the free width, never below the width it was last given.
    void SetStretchColumn(int column);

  signals:
    // Keys with a meaning for the list: Enter, the menu key or Shift+F10, copy and Delete.
    void enterPressed();
    void menuKeyPressed();
    void copyPressed();
    void deletePressed();

  public:
    // Rectangle that a selected row's highlight covers, in viewport coordinates.
    QRect HighlightRect(int row) const;
    // The text drawn in a cell and whether it was shortened to fit.
    QString FittedText(const QString& text, int width, int margin, bool* shortened) const;

  protected:
    void paintEvent(QPaintEvent* event) override;
    QRegion visualRegionForSelection(const QItemSelection& selection) const override;
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool viewportEvent(QEvent* event) override;

  private:
    int ColumnsRight() const;
    bool RowShownSelected(const QModelIndex& index) const;
    void DrawCellText(QPainter* painter, const QRect& cell, const QModelIndex& index, int margin,
                      int inset) const;
    void DrawRow(QPainter* painter, const QRect& rowRect, const QModelIndex& index) const;
    void DrawBar(QPainter* painter, const QRect& cell, double percent) const;
    void SpringBackZeroWidthColumn(int logicalIndex, int oldSize, int newSize);
    void FitStretchColumn();
    bool ShowCutText(QHelpEvent* event);

    bool fullRowSelect_ = false;
    int stretchColumn_ = -1;
    int stretchBase_ = 0;
    bool fitting_ = false;
};

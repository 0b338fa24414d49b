#pragma once

#include <QTreeView>

// The report-style list of the stream list. Draws its rows itself: a selected row is
// highlighted across all columns out to the right edge of the window, unselected rows are
// white, and texts too wide for their column end in "...".
class CListViewEx : public QTreeView {
    Q_OBJECT
  public:
    static constexpr int kFirstCellInset = 2;
    static constexpr int kOtherCellInset = 6;
    static constexpr int kSpringBackWidth = 10;

    explicit CListViewEx(QWidget* parent = nullptr);

    // Switches whole-row highlight and the owner drawing on or off; true when it changed.
    bool EnableFullRowSelect(bool on);
    bool fullRowSelect() const { return fullRowSelect_; }
    void setSelectToClientEdge(bool on) { selectToClientEdge_ = on; }

    // Rectangle that a selected row's highlight covers, in viewport coordinates.
    QRect highlightRect(int row) const;
    // The text drawn in a cell and whether it was shortened to fit.
    QString fittedText(const QString& text, int width, int margin, bool* shortened) const;

  protected:
    void drawRow(QPainter* painter, const QStyleOptionViewItem& option,
                 const QModelIndex& index) const override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

  private:
    int columnsRight() const;
    bool rowShownSelected(const QModelIndex& index) const;
    void drawCellText(QPainter* painter, const QRect& cell, const QModelIndex& index, int margin,
                      int inset) const;
    void springBackZeroWidthColumn(int logicalIndex, int oldSize, int newSize);

    bool fullRowSelect_ = false;
    bool selectToClientEdge_ = true;
};

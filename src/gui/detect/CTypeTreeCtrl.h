#pragma once

#include <QTreeWidget>

#include <map>

// The type tree: one expanded root "検出データ種別" with a child per media type seen and its
// count of streams. It keeps its own selected look: a click on an item's label selects it, a
// click beside or in front of the label clears the look, a click below the items changes
// nothing, and losing the focus keeps it. Selecting a child chooses its type, the root all.
class CTypeTreeCtrl : public QTreeWidget {
    Q_OBJECT
  public:
    static constexpr int kControlId = 131;

    explicit CTypeTreeCtrl(QWidget* parent = nullptr);

    void BuildTree();
    // One child per type name with its count, in name order; a chosen type that is gone
    // gives the choice back to the root.
    void SetTypeCounts(const std::map<QString, int>& counts);
    // The type name of a child item; empty for the root.
    static QString TypeNameOf(const QTreeWidgetItem* item);
    QTreeWidgetItem* Root() const { return topLevelItemCount() > 0 ? topLevelItem(0) : nullptr; }
    QTreeWidgetItem* CurrentTreeItem() const { return current_; }
    qintptr CurrentItemData() const { return currentData_; }

    // Where a point falls on an item.
    enum class Hit { Nowhere, Button, Label, RowElsewhere };
    Hit HitTest(QPoint point, QTreeWidgetItem** item) const;

  signals:
    // A right click, with the control's ID; nothing in the program acts on it.
    void rightClicked(int controlId);
    // The user chose a type (empty: the root, all types).
    void typeChosen(const QString& typeName);

  protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

  private:
    void OnClick(QPoint point);
    void OnRightClick(QPoint point);
    void SelectOnly(QTreeWidgetItem* item);
    void ClearAllSelected();
    QRect LabelRect(QTreeWidgetItem* item) const;

    QTreeWidgetItem* current_ = nullptr;
    qintptr currentData_ = 0;
};

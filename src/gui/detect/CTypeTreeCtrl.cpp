#include "gui/detect/CTypeTreeCtrl.h"

#include <QHeaderView>
#include <QMouseEvent>
#include <functional>

#include "gui/app/CountText.h"
#include "gui/detect/TypeLabelDelegate.h"

namespace {
// The item's own data (what it stands for); the root stands for nothing.
constexpr int kItemDataRole = Qt::UserRole;
constexpr int kTypeNameRole = Qt::UserRole + 1;
// Horizontal room around a label's text, as the label's highlight is drawn.
constexpr int kLabelMargin = 3;
}  // namespace

CTypeTreeCtrl::CTypeTreeCtrl(QWidget* parent) : QTreeWidget(parent) {
    setObjectName(QStringLiteral("typeTree"));
    setHeaderHidden(true);
    setColumnCount(1);
    // Lines and buttons, but none in front of the top level.
    setRootIsDecorated(false);
    setSelectionMode(QAbstractItemView::MultiSelection);
    setDragEnabled(false);
    setContextMenuPolicy(Qt::PreventContextMenu);
    setExpandsOnDoubleClick(false);
    setItemDelegate(new TypeLabelDelegate(kTypeNameRole, this));
    // The selected look stays when the focus leaves.
    QPalette pal = palette();
    pal.setColor(QPalette::Inactive, QPalette::Highlight,
                 pal.color(QPalette::Active, QPalette::Highlight));
    pal.setColor(QPalette::Inactive, QPalette::HighlightedText,
                 pal.color(QPalette::Active, QPalette::HighlightedText));
    setPalette(pal);
}

void CTypeTreeCtrl::BuildTree() {
    clear();
    current_ = nullptr;
    auto* rootItem = new QTreeWidgetItem(this, QStringList{QStringLiteral("検出データ種別")});
    rootItem->setData(0, kItemDataRole, 0);
    if (topLevelItemCount() == 1) {
        setFocus();
        rootItem->setSelected(false);
    }
    rootItem->setSelected(true);
    current_ = rootItem;
    rootItem->setExpanded(true);
}

QRect CTypeTreeCtrl::LabelRect(QTreeWidgetItem* item) const {
    const QRect cell = visualItemRect(item);
    const int text = fontMetrics().horizontalAdvance(item->text(0));
    return QRect(cell.left(), cell.top(), text + 2 * kLabelMargin, cell.height());
}

CTypeTreeCtrl::Hit CTypeTreeCtrl::HitTest(QPoint point, QTreeWidgetItem** item) const {
    QTreeWidgetItem* hit = itemAt(point);
    if (item != nullptr) {
        *item = hit;
    }
    if (hit == nullptr) {
        return Hit::Nowhere;
    }
    const QRect cell = visualItemRect(hit);
    if (point.x() < cell.left() && point.x() >= cell.left() - indentation() &&
        hit->childCount() > 0) {
        return Hit::Button;
    }
    return LabelRect(hit).contains(point) ? Hit::Label : Hit::RowElsewhere;
}

void CTypeTreeCtrl::SelectOnly(QTreeWidgetItem* item) {
    ClearAllSelected();
    item->setSelected(true);
    const bool changed = item != current_;
    current_ = item;
    currentData_ = item == Root() ? 0 : item->data(0, kItemDataRole).value<qintptr>();
    if (changed) {
        emit typeChosen(TypeNameOf(item));
    }
}

QString CTypeTreeCtrl::TypeNameOf(const QTreeWidgetItem* item) {
    return item != nullptr ? item->data(0, kTypeNameRole).toString() : QString();
}

void CTypeTreeCtrl::SetTypeCounts(const std::map<QString, int>& counts) {
    QTreeWidgetItem* top = Root();
    if (top == nullptr) {
        return;
    }
    int at = 0;
    for (const auto& [name, count] : counts) {
        if (name.isEmpty()) {
            continue;
        }
        const QString text = QStringLiteral("%1 (%2)").arg(name, CountText::of(count));
        QTreeWidgetItem* child = at < top->childCount() ? top->child(at) : nullptr;
        if (child == nullptr || TypeNameOf(child) != name) {
            child = new QTreeWidgetItem(QStringList{text});
            child->setData(0, kTypeNameRole, name);
            child->setToolTip(0, text);
            top->insertChild(at, child);
        } else if (child->text(0) != text) {
            child->setText(0, text);
            child->setToolTip(0, text);
        }
        ++at;
    }
    // Children past the counted ones, or of names no longer counted, go.
    for (int i = top->childCount() - 1; i >= 0; --i) {
        QTreeWidgetItem* child = top->child(i);
        const auto found = counts.find(TypeNameOf(child));
        if (i >= at || found == counts.end()) {
            if (child == current_) {
                SelectOnly(top);
            }
            delete top->takeChild(i);
        }
    }
    for (int i = 0; i < top->childCount(); ++i) {
        top->child(i)->setData(0, kItemDataRole, i + 1);
    }
    top->setExpanded(true);
}

void CTypeTreeCtrl::ClearAllSelected() {
    // Depth first, children before their parent, the top-level item last.
    std::function<void(QTreeWidgetItem*)> clearSubtree = [&](QTreeWidgetItem* item) {
        for (int i = 0; i < item->childCount(); ++i) {
            clearSubtree(item->child(i));
        }
        item->setSelected(false);
    };
    if (QTreeWidgetItem* first = Root()) {
        clearSubtree(first);
    }
}

void CTypeTreeCtrl::OnClick(QPoint point) {
    QTreeWidgetItem* item = nullptr;
    switch (HitTest(point, &item)) {
        case Hit::Nowhere:
            break;
        case Hit::Button:
            item->setExpanded(!item->isExpanded());
            break;
        case Hit::Label:
            SelectOnly(item);
            break;
        case Hit::RowElsewhere:
            ClearAllSelected();
            break;
    }
}

void CTypeTreeCtrl::OnRightClick(QPoint point) {
    QTreeWidgetItem* item = nullptr;
    if (HitTest(point, &item) == Hit::Label) {
        SelectOnly(item);
        viewport()->repaint();
    }
    emit rightClicked(kControlId);
}

void CTypeTreeCtrl::mousePressEvent(QMouseEvent* event) {
    // The control's own click handling never runs: selection is ours.
    if (event->button() == Qt::LeftButton) {
        OnClick(event->position().toPoint());
    } else if (event->button() == Qt::RightButton) {
        OnRightClick(event->position().toPoint());
    }
    event->accept();
}

void CTypeTreeCtrl::mouseDoubleClickEvent(QMouseEvent* event) {
    mousePressEvent(event);
}

void CTypeTreeCtrl::mouseReleaseEvent(QMouseEvent* event) {
    event->accept();
}

void CTypeTreeCtrl::mouseMoveEvent(QMouseEvent* event) {
    event->accept();
}

void CTypeTreeCtrl::focusOutEvent(QFocusEvent* event) {
    // Nothing changes on focus loss; only the frame of the view is repainted.
    QAbstractScrollArea::focusOutEvent(event);
}

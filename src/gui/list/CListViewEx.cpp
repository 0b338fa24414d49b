#include "gui/list/CListViewEx.h"

#include "gui/list/TextFitter.h"

#include <QFocusEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QTimer>
#include <QToolTip>

#include <algorithm>

CListViewEx::CListViewEx(QWidget* parent) : QTableView(parent) {
    verticalHeader()->hide();
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    setShowGrid(false);
    setWordWrap(false);
    setCornerButtonEnabled(false);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setTextElideMode(Qt::ElideNone);
    header()->setStretchLastSection(false);
    header()->setSectionsMovable(false);
    header()->setMinimumSectionSize(0);
    connect(header(), &QHeaderView::sectionResized, this, &CListViewEx::SpringBackZeroWidthColumn);
    connect(header(), &QHeaderView::sectionResized, this, [this](int logical, int, int size) {
        if (fitting_) {
            return;
        }
        if (logical == stretchColumn_) {
            stretchBase_ = size;
        }
        FitStretchColumn();
    });
    // A third click on a header goes back to the order first seen.
    header()->setSortIndicatorClearable(true);
    header()->setSortIndicator(-1, Qt::AscendingOrder);
    setSortingEnabled(true);
}

void CListViewEx::SetStretchColumn(int column) {
    stretchColumn_ = column;
    stretchBase_ = column >= 0 ? header()->sectionSize(column) : 0;
    FitStretchColumn();
}

void CListViewEx::FitStretchColumn() {
    if (stretchColumn_ < 0 || stretchColumn_ >= header()->count()) {
        return;
    }
    int others = 0;
    for (int logical = 0; logical < header()->count(); ++logical) {
        if (logical != stretchColumn_ && !header()->isSectionHidden(logical)) {
            others += header()->sectionSize(logical);
        }
    }
    const int wanted = std::max(stretchBase_, viewport()->width() - others);
    if (header()->sectionSize(stretchColumn_) != wanted) {
        fitting_ = true;
        header()->resizeSection(stretchColumn_, wanted);
        fitting_ = false;
    }
}

void CListViewEx::resizeEvent(QResizeEvent* event) {
    QTableView::resizeEvent(event);
    FitStretchColumn();
}

void CListViewEx::keyPressEvent(QKeyEvent* event) {
    const bool menuKey = event->key() == Qt::Key_Menu ||
                         (event->key() == Qt::Key_F10 && event->modifiers() == Qt::ShiftModifier);
    if (menuKey) {
        emit menuKeyPressed();
    } else if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        emit enterPressed();
    } else if (event->matches(QKeySequence::Copy)) {
        emit copyPressed();
    } else if (event->key() == Qt::Key_Delete && event->modifiers() == Qt::NoModifier) {
        emit deletePressed();
    } else {
        QTableView::keyPressEvent(event);
        return;
    }
    event->accept();
}

bool CListViewEx::viewportEvent(QEvent* event) {
    if (event->type() == QEvent::ToolTip) {
        return ShowCutText(static_cast<QHelpEvent*>(event));
    }
    return QTableView::viewportEvent(event);
}

// A cell whose text was cut shows all of it as its tool tip; other cells show none.
bool CListViewEx::ShowCutText(QHelpEvent* event) {
    const QModelIndex index = indexAt(event->pos());
    const QString text = index.isValid() ? index.data(Qt::DisplayRole).toString() : QString();
    bool shortened = false;
    if (!text.isEmpty()) {
        const bool firstColumn = index.column() == 0;
        FittedText(text, header()->sectionSize(index.column()),
                   firstColumn ? TextFitter::kFirstColumnMargin : TextFitter::kOtherColumnMargin,
                   &shortened);
    }
    if (shortened) {
        QToolTip::showText(event->globalPos(), text, viewport(), visualRect(index));
    } else {
        QToolTip::hideText();
        event->ignore();
    }
    return true;
}

bool CListViewEx::EnableFullRowSelect(bool on) {
    if (fullRowSelect_ == on) {
        return false;
    }
    fullRowSelect_ = on;
    viewport()->update();
    return true;
}

int CListViewEx::ColumnsRight() const {
    const int last = header()->logicalIndex(header()->count() - 1);
    return last < 0 ? 0 : header()->sectionViewportPosition(last) + header()->sectionSize(last);
}

QRect CListViewEx::HighlightRect(int row) const {
    const QRect itemRect = visualRect(model()->index(row, 0));
    int right = ColumnsRight();
    if (right < viewport()->width()) {
        right = viewport()->width();
    }
    const int left = header()->sectionViewportPosition(0);
    return QRect(QPoint(left, itemRect.top()), QPoint(right - 1, itemRect.bottom()));
}

QString CListViewEx::FittedText(const QString& text, int width, int margin, bool* shortened) const {
    const QFontMetrics metrics = fontMetrics();
    const QByteArray utf8 = text.toUtf8();
    const TextFitter::Result fitted =
        TextFitter::fit(std::string_view(utf8.constData(), static_cast<std::size_t>(utf8.size())),
                        width, margin, [&metrics](std::string_view part) {
                            return metrics.horizontalAdvance(QString::fromUtf8(
                                part.data(), static_cast<qsizetype>(part.size())));
                        });
    if (shortened != nullptr) {
        *shortened = fitted.shortened;
    }
    return fitted.shortened ? QString::fromStdString(fitted.text) : text;
}

bool CListViewEx::RowShownSelected(const QModelIndex& index) const {
    return hasFocus() && selectionModel() != nullptr && selectionModel()->isSelected(index);
}

void CListViewEx::paintEvent(QPaintEvent* event) {
    if (!fullRowSelect_ || model() == nullptr) {
        QTableView::paintEvent(event);
        return;
    }
    QPainter painter(viewport());
    const QRect area = event->rect();
    const int rows = model()->rowCount(rootIndex());
    int first = rowAt(area.top());
    if (first < 0) {
        first = area.top() < 0 ? 0 : rows;
    }
    int last = rowAt(area.bottom());
    if (last < 0) {
        last = rows - 1;
    }
    for (int row = first; row <= last; ++row) {
        const QRect rowRect(0, rowViewportPosition(row), viewport()->width(), rowHeight(row));
        DrawRow(&painter, rowRect, model()->index(row, 0, rootIndex()));
    }
}

// A selected row's highlight reaches the right edge of the window: repaint all of it.
QRegion CListViewEx::visualRegionForSelection(const QItemSelection& selection) const {
    QRegion region;
    for (const QItemSelectionRange& range : selection) {
        const int top = rowViewportPosition(range.top());
        const int bottom = rowViewportPosition(range.bottom()) + rowHeight(range.bottom());
        region += QRect(0, top, viewport()->width(), bottom - top);
    }
    return region;
}

// The focus rectangle goes round the whole row.
void CListViewEx::currentChanged(const QModelIndex& current, const QModelIndex& previous) {
    QTableView::currentChanged(current, previous);
    for (const QModelIndex& index : {current, previous}) {
        if (index.isValid()) {
            viewport()->update(QRect(0, rowViewportPosition(index.row()), viewport()->width(),
                                     rowHeight(index.row())));
        }
    }
}

void CListViewEx::DrawRow(QPainter* painter, const QRect& rowRect, const QModelIndex& index) const {
    const QModelIndex first = index.siblingAtColumn(0);
    const bool selected = RowShownSelected(first);
    const QRect highlight = HighlightRect(first.row());
    painter->save();
    if (selected) {
        painter->fillRect(highlight, palette().brush(QPalette::Active, QPalette::Highlight));
        painter->setPen(palette().color(QPalette::Active, QPalette::HighlightedText));
    } else {
        const int left = header()->sectionViewportPosition(0);
        painter->fillRect(QRect(left, rowRect.top(), viewport()->width() - left, rowRect.height()),
                          Qt::white);
        painter->setPen(Qt::black);  // the rows are white whatever the theme
    }

    const QHeaderView* head = header();
    for (int visual = 0; visual < head->count(); ++visual) {
        const int logical = head->logicalIndex(visual);
        if (head->isSectionHidden(logical)) {
            continue;
        }
        const QRect cell(head->sectionViewportPosition(logical), rowRect.top(),
                         head->sectionSize(logical), rowRect.height());
        const bool firstColumn = logical == 0;
        DrawCellText(painter, cell, first.siblingAtColumn(logical),
                     firstColumn ? TextFitter::kFirstColumnMargin : TextFitter::kOtherColumnMargin,
                     firstColumn ? kFirstCellInset : kOtherCellInset);
    }

    if (hasFocus() && currentIndex().row() == first.row()) {
        QStyleOptionFocusRect focus;
        focus.initFrom(this);
        focus.rect = highlight;
        focus.backgroundColor = palette().color(selected ? QPalette::Highlight : QPalette::Base);
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, painter, this);
    }
    painter->restore();
}

void CListViewEx::DrawBar(QPainter* painter, const QRect& cell, double percent) const {
    const QRect frame = cell.adjusted(2, 2, -3, -3);
    if (frame.width() <= 0 || frame.height() <= 0) {
        return;
    }
    painter->save();
    painter->fillRect(frame, QColor(232, 232, 232));
    const int filled = static_cast<int>(frame.width() * std::clamp(percent, 0.0, 100.0) / 100.0);
    painter->fillRect(QRect(frame.left(), frame.top(), filled, frame.height()),
                      QColor(134, 200, 134));
    painter->setPen(QColor(160, 160, 160));
    painter->drawRect(frame);
    painter->restore();
}

void CListViewEx::DrawCellText(QPainter* painter, const QRect& cell, const QModelIndex& index,
                               int margin, int inset) const {
    if (const QVariant percent = index.data(kBarRole); percent.isValid()) {
        DrawBar(painter, cell, percent.toDouble());
    }
    const QString text = index.data(Qt::DisplayRole).toString();
    if (text.isEmpty() || cell.width() <= 0) {
        return;
    }
    bool shortened = false;
    const QString shown = FittedText(text, cell.width(), margin, &shortened);
    Qt::Alignment horizontal = Qt::AlignLeft;
    if (!shortened) {
        const auto own = index.data(Qt::TextAlignmentRole).value<Qt::Alignment>();
        if (own & Qt::AlignRight) {
            horizontal = Qt::AlignRight;
        } else if (own & Qt::AlignHCenter) {
            horizontal = Qt::AlignHCenter;
        }
    }
    painter->drawText(cell.adjusted(inset, 0, -inset, 0),
                      int(horizontal | Qt::AlignVCenter | Qt::TextSingleLine), shown);
}

void CListViewEx::SpringBackZeroWidthColumn(int logicalIndex, int /*oldSize*/, int newSize) {
    if (logicalIndex == 0 || newSize != 0) {
        return;
    }
    // Resizing from inside the resize notification would fight the header's drag handling.
    QTimer::singleShot(0, this, [this, logicalIndex] {
        if (header()->sectionSize(logicalIndex) == 0) {
            header()->resizeSection(logicalIndex, kSpringBackWidth);
        }
    });
}

void CListViewEx::focusInEvent(QFocusEvent* event) {
    QTableView::focusInEvent(event);
    viewport()->update();
}

void CListViewEx::focusOutEvent(QFocusEvent* event) {
    QTableView::focusOutEvent(event);
    viewport()->update();
}

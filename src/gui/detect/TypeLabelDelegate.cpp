#include "gui/detect/TypeLabelDelegate.h"

#include <QApplication>
#include <QFontMetrics>
#include <QStyle>

#include <algorithm>

TypeLabelDelegate::TypeLabelDelegate(int nameRole, QObject* parent)
    : QStyledItemDelegate(parent), nameRole_(nameRole) {}

QString TypeLabelDelegate::fitted(const QString& name, const QString& label,
                                  const QFontMetrics& metrics, int width) {
    if (name.isEmpty() || !label.startsWith(name) || metrics.horizontalAdvance(label) <= width) {
        return label;
    }
    const QString count = label.mid(name.size());
    const int room = std::max(0, width - metrics.horizontalAdvance(count));
    return metrics.elidedText(name, Qt::ElideMiddle, room) + count;
}

void TypeLabelDelegate::initStyleOption(QStyleOptionViewItem* option,
                                        const QModelIndex& index) const {
    QStyledItemDelegate::initStyleOption(option, index);
    const QStyle* style =
        option->widget != nullptr ? option->widget->style() : QApplication::style();
    // The style keeps this much room beside the text of an item.
    const int margins =
        2 * (style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, option->widget) + 1);
    option->text = fitted(index.data(nameRole_).toString(), option->text, option->fontMetrics,
                          option->rect.width() - margins);
}

#pragma once

#include <QStyledItemDelegate>

class QFontMetrics;

// Draws a type's label ("MPEG-4 Video (12,345)") so that its count always shows whole: a name
// too long for the pane is cut in its middle, keeping its end, which tells apart names that
// begin alike. The item keeps its whole text (and shows it as its tool tip).
class TypeLabelDelegate : public QStyledItemDelegate {
    Q_OBJECT
  public:
    // The item data role that holds the type's name; items without one are drawn as they are.
    TypeLabelDelegate(int nameRole, QObject* parent);

    // `label` (the name, then its count) as it fits in `width`.
    static QString fitted(const QString& name, const QString& label, const QFontMetrics& metrics,
                          int width);

  protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override;

  private:
    int nameRole_;
};

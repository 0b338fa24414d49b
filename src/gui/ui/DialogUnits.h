#pragma once

#include <QFont>
#include <QRect>

// Converts dialog-template units into pixels from a font's metrics, so that a dialog designed
// in dialog units keeps its proportions at any font and size: 4 units across are one average
// character width, 8 units down are one line height.
class DialogUnits {
  public:
    explicit DialogUnits(const QFont& font);

    // Widens the horizontal unit so that `text` fits in `widthUnits`: the whole layout then
    // scales with it, instead of the label being cut (fonts whose kana are wider than the
    // design's show this).
    void fitText(const QFont& font, const QString& text, int widthUnits);

    int x(int units) const;
    int y(int units) const;
    QRect rect(int x, int y, int width, int height) const;
    QSize size(int width, int height) const;

  private:
    int baseX_;
    int baseY_;
};

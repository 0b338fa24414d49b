#pragma once

#include <QWidget>

// The strip of a CRSizeBar's border that Qt's docking treats as the title: the bar paints its
// gripper and close button there, and a press on it (outside the button) drags the bar. It
// lets every mouse event through to the bar.
class BarTitleStrip : public QWidget {
    Q_OBJECT
  public:
    explicit BarTitleStrip(QWidget* parent = nullptr);

    void setThickness(int thickness);
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

  private:
    int thickness_ = 17;
};

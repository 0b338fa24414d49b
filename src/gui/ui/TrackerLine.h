#pragma once

#include <QWidget>

// The half-tone line that shows where a dragged bar edge will land when the bar's content does
// not follow the mouse. Lies over the frame and lets every mouse event through.
class TrackerLine : public QWidget {
    Q_OBJECT
  public:
    explicit TrackerLine(QWidget* frame);

  protected:
    void paintEvent(QPaintEvent* event) override;
};

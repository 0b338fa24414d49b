#pragma once

#include <QDockWidget>
#include <vector>

#include "gui/ui/BarGeometry.h"
#include "gui/ui/ResizeTracker.h"

class QMainWindow;
class BarTitleStrip;
class TrackerLine;

// A docking pane whose free edge the user drags to resize it while docked, with a gripper of
// two raised lines and a small flat close button in its border. Several bars docked in one row
// share the row's length. Built on Qt's docking: the frame places, floats and re-docks it.
class CRSizeBar : public QDockWidget {
    Q_OBJECT
  public:
    CRSizeBar();
    ~CRSizeBar() override;

    // Creates the bar in `frame` with the default size (width x height) for every dock side and
    // for floating. The child widget is set with SetClient.
    bool CreateBar(const QString& title, QMainWindow* frame, QSize defaultSize, bool hasGripper,
                   int id);

    void SetClient(QWidget* client);

    // The six sizes in the application's settings, section "<profile>-SCBar-<id>". Loaded
    // values never go below the minimum size.
    virtual void LoadSizes(const QString& profile);
    virtual void SaveSizes(const QString& profile) const;
    // Takes the size the bar has now as its docked size (before saving or hiding).
    void KeepDockedSize();
    QWidget* Client() const { return client_; }

    bool IsBarFloating() const { return !geometry_.IsDocked(); }
    DockSide GetDockSide() const { return geometry_.side; }
    BarGeometry& GetBarGeometry() { return geometry_; }
    const ResizeTracker& Tracker() const { return tracker_; }
    int ControlId() const { return id_; }

    void SetShowContentWhileDragging(bool on) { showContent_ = on; }

    bool ClosePushed() const { return closePushed_; }
    bool CloseRaised() const { return closeRaised_; }

    // The close button: in the gripper strip while docked, in the caption while floating.
    QRect CloseButtonRect() const;
    // The non-client hit test at a point in the bar's co-ordinates.
    int HitTest(QPoint point) const;
    // The resizable bars of this bar's dock row, in row order.
    std::vector<CRSizeBar*> RowBars() const;
    // Every created bar, in creation order.
    static const std::vector<CRSizeBar*>& Registry();

  protected:
    virtual void BeginResize(int hit, QPoint globalPoint);
    virtual void TrackResize(QPoint globalPoint);
    virtual void EndResize();
    virtual void DrawResizeTracker();
    virtual void PaintGripper(QPainter& painter, const BarRect& client);
    // Room kept free around the client widget inside the client area.
    virtual QMargins ClientInset() const { return QMargins(); }

    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    // Mouse handling ahead of Qt's own title-bar dragging; true when the event is used up.
    bool OnMousePress(QMouseEvent* event);
    bool OnMouseMove(QMouseEvent* event);
    bool OnMouseRelease(QMouseEvent* event);
    void OnPlacementChanged();
    void ApplyLayout();
    void ApplyDockedSize();
    int DockedThickness(int wanted) const;
    void KeepFloatingOnScreen();
    void ShareRowOnFrameResize();
    void SetCloseState(bool pushed, bool raised);
    void PaintCloseButton(QPainter& painter);
    BarRect WindowRect() const;
    BarRect RecalcClient();
    QMainWindow* Frame() const { return frame_; }

    BarGeometry geometry_;
    ResizeTracker tracker_;
    QMainWindow* frame_ = nullptr;
    QWidget* body_ = nullptr;
    QWidget* client_ = nullptr;
    BarTitleStrip* titleStrip_ = nullptr;
    TrackerLine* trackerLine_ = nullptr;
    int id_ = 0;
    bool showContent_ = true;
    bool closePushed_ = false;
    bool closeRaised_ = false;
    bool sharePending_ = false;
};

#include "gui/ui/CRSizeBar.h"

#include <QApplication>
#include <QGuiApplication>
#include <QMainWindow>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QSettings>
#include <QStyle>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

#include "gui/ui/BarTitleStrip.h"
#include "gui/ui/DockRow.h"
#include "gui/ui/TrackerLine.h"

namespace {

std::vector<CRSizeBar*>& registryStorage() {
    static std::vector<CRSizeBar*> bars;
    return bars;
}

DockSide sideOf(Qt::DockWidgetArea area) {
    switch (area) {
        case Qt::TopDockWidgetArea:
            return DockSide::Top;
        case Qt::BottomDockWidgetArea:
            return DockSide::Bottom;
        case Qt::LeftDockWidgetArea:
            return DockSide::Left;
        case Qt::RightDockWidgetArea:
            return DockSide::Right;
        default:
            return DockSide::Floating;
    }
}

QRect toQRect(const BarRect& r) {
    return QRect(r.left, r.top, r.width(), r.height());
}

void draw3dRect(QPainter& painter, const QRect& r, const QColor& topLeft,
                const QColor& bottomRight) {
    painter.fillRect(r.left(), r.top(), r.width() - 1, 1, topLeft);
    painter.fillRect(r.left(), r.top(), 1, r.height() - 1, topLeft);
    painter.fillRect(r.right(), r.top(), 1, r.height(), bottomRight);
    painter.fillRect(r.left(), r.bottom(), r.width(), 1, bottomRight);
}

}  // namespace

CRSizeBar::CRSizeBar() = default;

CRSizeBar::~CRSizeBar() {
    auto& bars = registryStorage();
    bars.erase(std::remove(bars.begin(), bars.end(), this), bars.end());
    if (frame_ != nullptr) {
        frame_->removeEventFilter(this);
    }
}

const std::vector<CRSizeBar*>& CRSizeBar::Registry() {
    return registryStorage();
}

bool CRSizeBar::CreateBar(const QString& title, QMainWindow* frame, QSize defaultSize,
                          bool hasGripper, int id) {
    if (frame == nullptr) {
        return false;
    }
    frame_ = frame;
    id_ = id;
    geometry_.SetDefault({defaultSize.width(), defaultSize.height()}, hasGripper);
    setParent(frame);
    setWindowTitle(title);
    setObjectName(title);
    setMouseTracking(true);
    setMinimumSize(geometry_.minSize.cx, geometry_.minSize.cy);

    body_ = new QWidget(this);
    auto* layout = new QVBoxLayout(body_);
    layout->setSpacing(0);
    body_->setMouseTracking(true);
    setWidget(body_);
    titleStrip_ = new BarTitleStrip(this);
    setTitleBarWidget(titleStrip_);
    trackerLine_ = new TrackerLine(frame);

    // Qt's splitters follow the desktop's choice between live and outline resizing.
    showContent_ = style()->styleHint(QStyle::SH_Splitter_OpaqueResize, nullptr, this) != 0;

    connect(this, &QDockWidget::topLevelChanged, this, &CRSizeBar::OnPlacementChanged);
    connect(this, &QDockWidget::dockLocationChanged, this, &CRSizeBar::OnPlacementChanged);
    frame->installEventFilter(this);
    registryStorage().push_back(this);
    OnPlacementChanged();
    return true;
}

void CRSizeBar::SetClient(QWidget* client) {
    if (client_ != nullptr) {
        body_->layout()->removeWidget(client_);
    }
    client_ = client;
    if (client_ != nullptr) {
        // The bar's own minimum rules, not the client's size hint.
        client_->setMinimumSize(1, 1);
        body_->layout()->addWidget(client_);
    }
}

namespace {

struct SizeKey {
    const char* name;
    int BarSize::*field;
    BarSize BarGeometry::*size;
};

constexpr SizeKey kSizeKeys[] = {
    {"sizeHorzCX", &BarSize::cx, &BarGeometry::horzSize},
    {"sizeHorzCY", &BarSize::cy, &BarGeometry::horzSize},
    {"sizeVertCX", &BarSize::cx, &BarGeometry::vertSize},
    {"sizeVertCY", &BarSize::cy, &BarGeometry::vertSize},
    {"sizeFloatCX", &BarSize::cx, &BarGeometry::floatSize},
    {"sizeFloatCY", &BarSize::cy, &BarGeometry::floatSize},
};

}  // namespace

void CRSizeBar::LoadSizes(const QString& profile) {
    QSettings settings;
    settings.beginGroup(QStringLiteral("%1-SCBar-%2").arg(profile).arg(id_));
    for (const SizeKey& key : kSizeKeys) {
        int& value = geometry_.*key.size.*key.field;
        const int minimum = geometry_.minSize.*key.field;
        value = std::max(settings.value(QLatin1String(key.name), value).toInt(), minimum);
    }
}

void CRSizeBar::KeepDockedSize() {
    if (geometry_.IsDocked() && width() > 0 && height() > 0) {
        geometry_.DockedSize() = {width(), height()};
    }
}

void CRSizeBar::SaveSizes(const QString& profile) const {
    QSettings settings;
    settings.beginGroup(QStringLiteral("%1-SCBar-%2").arg(profile).arg(id_));
    for (const SizeKey& key : kSizeKeys) {
        settings.setValue(QLatin1String(key.name), geometry_.*key.size.*key.field);
    }
}

BarRect CRSizeBar::WindowRect() const {
    return {0, 0, width(), height()};
}

BarRect CRSizeBar::RecalcClient() {
    const std::vector<CRSizeBar*> row = RowBars();
    const auto it = std::find(row.begin(), row.end(), this);
    const bool inRow = it != row.end();
    const bool hasPrev = inRow && it != row.begin();
    const bool hasNext = inRow && it + 1 != row.end();
    return geometry_.CalcClient(WindowRect(), hasPrev, hasNext);
}

QRect CRSizeBar::CloseButtonRect() const {
    if (geometry_.IsDocked()) {
        return toQRect(geometry_.CloseRect());
    }
    // Floating, the button sits at the right end of the caption strip, as on a small frame.
    const int size = BarGeometry::kCloseSize;
    const int strip = titleStrip_ != nullptr ? titleStrip_->sizeHint().height() : size;
    return QRect(width() - BarGeometry::kEdgeWidth - size, (strip - size) / 2, size, size);
}

int CRSizeBar::HitTest(QPoint point) const {
    if (!geometry_.IsDocked()) {
        return CloseButtonRect().contains(point) ? kHitClose : kHitClient;
    }
    BarGeometry probe = geometry_;
    const std::vector<CRSizeBar*> row = RowBars();
    const auto it = std::find(row.begin(), row.end(), this);
    const bool inRow = it != row.end();
    probe.CalcClient(WindowRect(), inRow && it != row.begin(), inRow && it + 1 != row.end());
    return probe.HitTest(WindowRect(), {point.x(), point.y()});
}

std::vector<CRSizeBar*> CRSizeBar::RowBars() const {
    std::vector<CRSizeBar*> row;
    if (frame_ == nullptr || !geometry_.IsDocked()) {
        return row;
    }
    const Qt::DockWidgetArea area = frame_->dockWidgetArea(const_cast<CRSizeBar*>(this));
    const bool horz = geometry_.IsHorzDock();
    const QRect mine = geometry();
    for (CRSizeBar* bar : registryStorage()) {
        if (bar->frame_ != frame_ || bar->isHidden() || bar->isFloating() ||
            frame_->dockWidgetArea(bar) != area) {
            continue;
        }
        // Bars of one row overlap across it: same band of rows, or same column.
        const QRect other = bar->geometry();
        const bool sameRow = horz ? (other.top() < mine.bottom() && mine.top() < other.bottom())
                                  : (other.left() < mine.right() && mine.left() < other.right());
        if (sameRow || bar == this) {
            row.push_back(bar);
        }
    }
    std::sort(row.begin(), row.end(), [horz](const CRSizeBar* a, const CRSizeBar* b) {
        return horz ? a->geometry().left() < b->geometry().left()
                    : a->geometry().top() < b->geometry().top();
    });
    return row;
}

void CRSizeBar::OnPlacementChanged() {
    geometry_.side = isFloating() || frame_ == nullptr ? DockSide::Floating
                                                       : sideOf(frame_->dockWidgetArea(this));
    const int edge = BarGeometry::kEdgeWidth;
    const int strip = edge + (geometry_.IsDocked() ? geometry_.gripperSize : 0);
    // A floating bar has no gripper; its strip keeps room for the caption it is dragged by.
    const int floatingStrip = fontMetrics().height() + 2 * edge;
    if (geometry_.IsHorzDock()) {
        setFeatures(features() | QDockWidget::DockWidgetVerticalTitleBar);
        titleStrip_->setThickness(strip);
        body_->layout()->setContentsMargins(QMargins(0, edge, edge, edge) + ClientInset());
    } else {
        setFeatures(features() & ~QDockWidget::DockWidgetVerticalTitleBar);
        titleStrip_->setThickness(geometry_.IsDocked() ? strip : floatingStrip);
        body_->layout()->setContentsMargins(QMargins(edge, 0, edge, edge) + ClientInset());
    }
    if (geometry_.IsDocked()) {
        ApplyDockedSize();
    } else {
        const BarSize size = geometry_.FloatingLayout(0, false, true);
        resize(std::max(width(), size.cx), std::max(height(), size.cy));
        QTimer::singleShot(0, this, &CRSizeBar::KeepFloatingOnScreen);
    }
    RecalcClient();
    update();
}

// Placed or shown again: the bar comes back at its own size, as far as the view keeps room.
void CRSizeBar::ApplyDockedSize() {
    if (frame_ == nullptr || !geometry_.IsDocked() || isHidden()) {
        return;
    }
    const BarSize size = geometry_.FixedLayout();
    if (geometry_.IsHorzDock()) {
        frame_->resizeDocks({this}, {DockedThickness(size.cy)}, Qt::Vertical);
    } else {
        frame_->resizeDocks({this}, {DockedThickness(size.cx)}, Qt::Horizontal);
    }
}

int CRSizeBar::DockedThickness(int wanted) const {
    const int frameExtent = geometry_.IsHorzDock() ? frame_->height() : frame_->width();
    const int minimum = geometry_.IsHorzDock() ? geometry_.minSize.cy : geometry_.minSize.cx;
    return BarGeometry::DockedThickness(wanted, frameExtent, minimum);
}

// A floating bar lies wholly on its screen at a sensible width; not while the user drags it,
// which places it under the mouse.
void CRSizeBar::KeepFloatingOnScreen() {
    if (geometry_.IsDocked() || isHidden() || QGuiApplication::mouseButtons() != Qt::NoButton) {
        return;
    }
    const QScreen* shown = screen() != nullptr ? screen() : QGuiApplication::primaryScreen();
    if (shown == nullptr) {
        return;
    }
    const QRect now = frameGeometry();
    const QRect area = shown->availableGeometry();
    const BarRect fitted = BarGeometry::FloatingOnScreen(
        {now.left(), now.top(), now.right() + 1, now.bottom() + 1},
        {area.left(), area.top(), area.right() + 1, area.bottom() + 1}, geometry_.minSize);
    const QMargins frameMargins(geometry().left() - now.left(), geometry().top() - now.top(),
                                now.right() - geometry().right(),
                                now.bottom() - geometry().bottom());
    setGeometry(QRect(fitted.left, fitted.top, fitted.width(), fitted.height()) - frameMargins);
}

void CRSizeBar::ApplyLayout() {
    const std::vector<CRSizeBar*> row = RowBars();
    if (frame_ == nullptr || row.empty()) {
        return;
    }
    QList<QDockWidget*> docks;
    QList<int> thickness;
    QList<int> lengths;
    for (CRSizeBar* bar : row) {
        const BarSize size = bar->geometry_.FixedLayout();
        docks.append(bar);
        thickness.append(geometry_.IsHorzDock() ? size.cy : size.cx);
        lengths.append(geometry_.IsHorzDock() ? size.cx : size.cy);
    }
    const Qt::Orientation across = geometry_.IsHorzDock() ? Qt::Vertical : Qt::Horizontal;
    const Qt::Orientation along = geometry_.IsHorzDock() ? Qt::Horizontal : Qt::Vertical;
    frame_->resizeDocks(docks, thickness, across);
    if (docks.size() > 1) {
        frame_->resizeDocks(docks, lengths, along);
    }
}

void CRSizeBar::ShareRowOnFrameResize() {
    sharePending_ = false;
    const std::vector<CRSizeBar*> row = RowBars();
    if (row.size() < 2 || row.front() != this) {
        return;
    }
    std::vector<BarGeometry*> geometries;
    int length = 0;
    for (CRSizeBar* bar : row) {
        geometries.push_back(&bar->geometry_);
        length += geometry_.IsHorzDock() ? bar->width() : bar->height();
    }
    // Qt's bars do not overlap; the sharing rule counts 2 pixels of overlap per bar.
    length -= 2 * static_cast<int>(row.size());
    if (DockRow::ShareRowSpace(geometries, length) == DockRow::Share::Done) {
        ApplyLayout();
    }
}

bool CRSizeBar::eventFilter(QObject* watched, QEvent* event) {
    if (watched == frame_ && event->type() == QEvent::Resize && !sharePending_) {
        sharePending_ = true;
        QTimer::singleShot(0, this, &CRSizeBar::ShareRowOnFrameResize);
    }
    return QDockWidget::eventFilter(watched, event);
}

bool CRSizeBar::event(QEvent* event) {
    switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonDblClick:
            if (OnMousePress(static_cast<QMouseEvent*>(event))) {
                return true;
            }
            break;
        case QEvent::MouseMove:
            if (OnMouseMove(static_cast<QMouseEvent*>(event))) {
                return true;
            }
            break;
        case QEvent::MouseButtonRelease:
            if (OnMouseRelease(static_cast<QMouseEvent*>(event))) {
                return true;
            }
            break;
        case QEvent::Leave:
            SetCloseState(false, false);
            break;
        case QEvent::Show:
            // Shown while docked: the bar comes back at its own size.
            geometry_.keepSize = geometry_.IsDocked();
            QTimer::singleShot(0, this, &CRSizeBar::ApplyDockedSize);
            break;
        case QEvent::Hide:
            // Whatever resized it last (its edge or the frame's own splitter), it comes back
            // at the size it had.
            KeepDockedSize();
            break;
        case QEvent::StyleChange:
            showContent_ = style()->styleHint(QStyle::SH_Splitter_OpaqueResize, nullptr, this) != 0;
            break;
        case QEvent::Resize:
            RecalcClient();
            break;
        default:
            break;
    }
    return QDockWidget::event(event);
}

bool CRSizeBar::OnMousePress(QMouseEvent* event) {
    if (tracker_.tracking()) {
        // A right-button press ends the drag where it is; anything else is swallowed.
        if (event->button() == Qt::RightButton) {
            EndResize();
        }
        return true;
    }
    if (event->button() != Qt::LeftButton) {
        return false;
    }
    const int hit = HitTest(event->position().toPoint());
    if (geometry_.IsDocked() && hit >= kHitLeft && hit <= 17) {
        BeginResize(hit, event->globalPosition().toPoint());
        return true;
    }
    if (hit == kHitClose) {
        SetCloseState(true, false);
        return true;
    }
    return false;
}

bool CRSizeBar::OnMouseMove(QMouseEvent* event) {
    if (tracker_.tracking()) {
        TrackResize(event->globalPosition().toPoint());
        return true;
    }
    const int hit = HitTest(event->position().toPoint());
    const bool onClose = hit == kHitClose;
    const bool down = (event->buttons() & Qt::LeftButton) != 0;
    if (closePushed_ || !down) {
        SetCloseState(onClose && down && closePushed_, onClose && !down);
    }
    if (!down) {
        if (hit == kHitLeft || hit == kHitRight) {
            setCursor(Qt::SizeHorCursor);
        } else if (hit == kHitTop || hit == kHitBottom) {
            setCursor(Qt::SizeVerCursor);
        } else {
            unsetCursor();
        }
    }
    // While the close button is held, the press belongs to it, not to a drag of the bar.
    return closePushed_ || (down && onClose);
}

bool CRSizeBar::OnMouseRelease(QMouseEvent* event) {
    if (tracker_.tracking()) {
        if (event->button() == Qt::LeftButton) {
            EndResize();
        }
        return true;
    }
    const bool onClose = HitTest(event->position().toPoint()) == kHitClose;
    if (closePushed_ && event->button() == Qt::LeftButton) {
        SetCloseState(false, onClose);
        if (onClose) {
            hide();
        }
        return true;
    }
    return false;
}

void CRSizeBar::SetCloseState(bool pushed, bool raised) {
    if (pushed != closePushed_ || raised != closeRaised_) {
        closePushed_ = pushed;
        closeRaised_ = raised;
        update(CloseButtonRect());
    }
}

void CRSizeBar::BeginResize(int hit, QPoint) {
    grabMouse();
    const std::vector<CRSizeBar*> row = RowBars();
    std::vector<BarGeometry*> geometries;
    int self = 0;
    for (std::size_t i = 0; i < row.size(); ++i) {
        // Drags begin from the sizes the bars have on screen.
        row[i]->geometry_.DockedSize() = {row[i]->width(), row[i]->height()};
        geometries.push_back(&row[i]->geometry_);
        if (row[i] == this) {
            self = static_cast<int>(i);
        }
    }
    if (geometries.empty()) {
        geometries.push_back(&geometry_);
    }
    geometry_.DockedSize() = {width(), height()};
    const QPoint origin = mapToGlobal(QPoint(0, 0));
    const BarRect window{origin.x(), origin.y(), origin.x() + width(), origin.y() + height()};
    QSize pane(0, 0);
    if (frame_ != nullptr && frame_->centralWidget() != nullptr) {
        pane = frame_->centralWidget()->size();
    }
    RecalcClient();
    tracker_.begin(geometries, self, hit, window, {pane.width(), pane.height()});
    DrawResizeTracker();
}

void CRSizeBar::TrackResize(QPoint globalPoint) {
    if (!tracker_.track({globalPoint.x(), globalPoint.y()})) {
        return;
    }
    DrawResizeTracker();
    if (showContent_) {
        ApplyLayout();
    }
}

void CRSizeBar::EndResize() {
    tracker_.end();
    DrawResizeTracker();
    releaseMouse();
    ApplyLayout();
}

void CRSizeBar::DrawResizeTracker() {
    if (trackerLine_ == nullptr) {
        return;
    }
    if (showContent_ || !tracker_.tracking()) {
        trackerLine_->hide();
        return;
    }
    const BarRect edge = geometry_.EdgeRect(WindowRect(), tracker_.hit());
    QRect line = toQRect(edge).translated(mapTo(frame_, QPoint(0, 0)));
    if (!tracker_.sideDrag()) {
        // Across the whole dock area, 1 pixel inside its ends.
        int first = geometry_.IsHorzDock() ? line.left() : line.top();
        int last = geometry_.IsHorzDock() ? line.right() : line.bottom();
        for (CRSizeBar* bar : RowBars()) {
            const QRect r = bar->geometry();
            first = std::min(first, geometry_.IsHorzDock() ? r.left() : r.top());
            last = std::max(last, geometry_.IsHorzDock() ? r.right() : r.bottom());
        }
        if (geometry_.IsHorzDock()) {
            line.setLeft(first + 1);
            line.setRight(last - 1);
        } else {
            line.setTop(first + 1);
            line.setBottom(last - 1);
        }
    }
    const BarPoint offset = tracker_.trackerOffset();
    line.translate(offset.x, offset.y);
    trackerLine_->setGeometry(line);
    trackerLine_->show();
    trackerLine_->raise();
}

void CRSizeBar::paintEvent(QPaintEvent* event) {
    if (!geometry_.IsDocked()) {
        QDockWidget::paintEvent(event);
        QPainter painter(this);
        painter.setPen(palette().color(QPalette::WindowText));
        painter.drawText(
            QRect(BarGeometry::kEdgeWidth, 0, width(), titleStrip_->sizeHint().height()),
            Qt::AlignVCenter | Qt::AlignLeft, windowTitle());
        PaintCloseButton(painter);
        return;
    }
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Button));
    const BarRect client = RecalcClient();
    if (geometry_.gripperSize != 0) {
        PaintGripper(painter, client);
    }
}

void CRSizeBar::PaintGripper(QPainter& painter, const BarRect& clientRect) {
    const QColor light = palette().color(QPalette::Light);
    const QColor shadow = palette().color(QPalette::Dark);
    const BarRect c{clientRect.left + 1, clientRect.top + 1, clientRect.right - 1,
                    clientRect.bottom - 1};
    const BarPoint close = geometry_.closeOrigin;
    QRect first;
    QPoint step;
    if (geometry_.IsHorzDock()) {
        const int top = close.y + 14;
        first = QRect(c.left - geometry_.gripperSize, top, 3, c.bottom - top);
        step = QPoint(3, 0);
    } else {
        const int left = c.left;
        first = QRect(left, c.top - geometry_.gripperSize, close.x - 3 - left, 3);
        step = QPoint(0, 3);
    }
    if (first.width() > 0 && first.height() > 0) {
        draw3dRect(painter, first, light, shadow);
        draw3dRect(painter, first.translated(step), light, shadow);
    }
    PaintCloseButton(painter);
}

void CRSizeBar::PaintCloseButton(QPainter& painter) {
    const QRect box = CloseButtonRect();
    const QColor light = palette().color(QPalette::Light);
    const QColor shadow = palette().color(QPalette::Dark);
    if (closePushed_) {
        draw3dRect(painter, box, shadow, light);
    } else if (closeRaised_) {
        draw3dRect(painter, box, light, shadow);
    }
    // The cross glyph, 2 pixels in from the corner, a little lower-right while pushed.
    const int shift = closePushed_ ? 1 : 0;
    const QRect glyph(box.left() + 2 + shift, box.top() + 2 + shift, 7, 7);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(QPen(palette().color(QPalette::ButtonText), 1));
    for (int d = 0; d < 2; ++d) {
        painter.drawLine(glyph.left() + d, glyph.top(), glyph.right() - 1 + d, glyph.bottom() - 1);
        painter.drawLine(glyph.right() - 1 + d, glyph.top(), glyph.left() + d, glyph.bottom() - 1);
    }
    painter.restore();
}

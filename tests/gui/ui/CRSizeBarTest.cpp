#include <QLabel>
#include <QMainWindow>
#include <QScreen>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include "gui/ui/CRSizeBar.h"

class CRSizeBarTest : public QObject {
    Q_OBJECT

  private slots:
    void init();
    void cleanup();
    void dockedLeftOnlyTheRightEdgeDrags();
    void widthStopsShortOfTheMainPaneAndAtTheMinimum();
    void rightButtonEndsTheDragWhereItIs();
    void outlineDragShowsTrackerAndResizesOnRelease();
    void closeButtonRaisesPushesAndHides();
    void floatingBarHasNoEdges();
    void dockedAtTheTopTheBottomEdgeDrags();
    void edgeBetweenTwoBarsMovesLengthBetweenThem();
    void sizesKeptInTheSettings();
    void floatsOnScreenAndRedocksWithoutSqueezingTheView();

  private:
    // The middle of the 5-pixel edge, where the drag's offsets are measured from.
    QPoint rightEdge() const { return QPoint(bar_->width() - 3, bar_->height() / 2); }
    QPoint closeCenter() const {
        const BarRect r = bar_->GetBarGeometry().CloseRect();
        return QPoint(r.left + 5, r.top + 5);
    }
    void dragRightEdgeBy(int dx, bool release = true);

    QMainWindow* frame_ = nullptr;
    CRSizeBar* bar_ = nullptr;
};

void CRSizeBarTest::init() {
    frame_ = new QMainWindow;
    frame_->setCentralWidget(new QLabel(QStringLiteral("pane")));
    frame_->centralWidget()->setMinimumSize(1, 1);
    bar_ = new CRSizeBar;
    QVERIFY(bar_->CreateBar(QStringLiteral("Tree Bar"), frame_, QSize(150, 300), true, 9999));
    bar_->SetClient(new QLabel(QStringLiteral("client")));
    frame_->addDockWidget(Qt::LeftDockWidgetArea, bar_);
    frame_->resize(600, 400);
    frame_->show();
    QVERIFY(QTest::qWaitForWindowExposed(frame_));
    QTRY_COMPARE(bar_->width(), 150);
}

void CRSizeBarTest::cleanup() {
    delete frame_;
    frame_ = nullptr;
    QVERIFY(CRSizeBar::Registry().empty());
}

void CRSizeBarTest::dragRightEdgeBy(int dx, bool release) {
    const QPoint start = rightEdge();
    QTest::mousePress(bar_, Qt::LeftButton, Qt::NoModifier, start);
    QVERIFY(bar_->Tracker().tracking());
    QTest::mouseMove(bar_, start + QPoint(dx, 0));
    if (release) {
        QTest::mouseRelease(bar_, Qt::LeftButton, Qt::NoModifier, start + QPoint(dx, 0));
        QVERIFY(!bar_->Tracker().tracking());
    }
}

void CRSizeBarTest::dockedLeftOnlyTheRightEdgeDrags() {
    QCOMPARE(bar_->GetDockSide(), DockSide::Left);
    QCOMPARE(bar_->HitTest(rightEdge()), int(kHitRight));
    QCOMPARE(bar_->HitTest(QPoint(2, bar_->height() / 2)), int(kHitClient));
    QCOMPARE(bar_->HitTest(QPoint(bar_->width() / 2, bar_->height() - 2)), int(kHitClient));
    QCOMPARE(bar_->HitTest(closeCenter()), int(kHitClose));
}

void CRSizeBarTest::widthStopsShortOfTheMainPaneAndAtTheMinimum() {
    const int pane = frame_->centralWidget()->width();
    const int before = bar_->width();
    dragRightEdgeBy(2000);
    QCOMPARE(bar_->GetBarGeometry().vertSize.cx, before + pane - 4);
    QTRY_VERIFY(bar_->width() > before + pane / 2);
    QVERIFY(frame_->centralWidget()->width() >= 1);

    dragRightEdgeBy(-2000);
    QCOMPARE(bar_->GetBarGeometry().vertSize.cx, 33);
    QTRY_COMPARE(bar_->width(), 33);
}

void CRSizeBarTest::rightButtonEndsTheDragWhereItIs() {
    dragRightEdgeBy(40, false);
    QCOMPARE(bar_->GetBarGeometry().vertSize.cx, 190);
    QTest::mousePress(bar_, Qt::RightButton, Qt::NoModifier, rightEdge() + QPoint(40, 0));
    QVERIFY(!bar_->Tracker().tracking());
    QTest::mouseMove(bar_, rightEdge() + QPoint(90, 0));
    QCOMPARE(bar_->GetBarGeometry().vertSize.cx, 190);
    QTest::mouseRelease(bar_, Qt::LeftButton, Qt::NoModifier, rightEdge() + QPoint(90, 0));
    QTest::mouseRelease(bar_, Qt::RightButton, Qt::NoModifier, rightEdge() + QPoint(90, 0));
    QCOMPARE(bar_->GetBarGeometry().vertSize.cx, 190);
    QTRY_COMPARE(bar_->width(), 190);
}

void CRSizeBarTest::outlineDragShowsTrackerAndResizesOnRelease() {
    bar_->SetShowContentWhileDragging(false);
    dragRightEdgeBy(30, false);
    auto* tracker = frame_->findChild<QWidget*>(QStringLiteral("resizeTracker"));
    QVERIFY(tracker != nullptr);
    QVERIFY(tracker->isVisible());
    QCOMPARE(tracker->width(), 5);
    // The line follows the mouse; the bar itself waits for the release.
    QCOMPARE(tracker->x(), bar_->mapTo(frame_, QPoint(bar_->width() - 5, 0)).x() + 30);
    QCOMPARE(bar_->width(), 150);
    QTest::mouseRelease(bar_, Qt::LeftButton, Qt::NoModifier, rightEdge() + QPoint(30, 0));
    QVERIFY(!tracker->isVisible());
    QTRY_COMPARE(bar_->width(), 180);
}

void CRSizeBarTest::closeButtonRaisesPushesAndHides() {
    // Hover without a button, sent straight to the bar.
    const QPointF at(closeCenter());
    QMouseEvent hover(QEvent::MouseMove, at, bar_->mapToGlobal(at), Qt::NoButton, Qt::NoButton,
                      Qt::NoModifier);
    QCoreApplication::sendEvent(bar_, &hover);
    QVERIFY(bar_->CloseRaised());
    QVERIFY(!bar_->ClosePushed());
    QTest::mousePress(bar_, Qt::LeftButton, Qt::NoModifier, closeCenter());
    QVERIFY(bar_->ClosePushed());
    QVERIFY(!bar_->isFloating());
    QTest::mouseRelease(bar_, Qt::LeftButton, Qt::NoModifier, closeCenter());
    QVERIFY(bar_->isHidden());
}

void CRSizeBarTest::floatingBarHasNoEdges() {
    bar_->setFloating(true);
    QTRY_VERIFY(bar_->IsBarFloating());
    QCOMPARE(bar_->HitTest(QPoint(bar_->width() - 2, bar_->height() / 2)), int(kHitClient));
    // The caption's own close button still hides it.
    const QPoint close = bar_->CloseButtonRect().center();
    QCOMPARE(bar_->HitTest(close), int(kHitClose));
    QTest::mousePress(bar_, Qt::LeftButton, Qt::NoModifier, close);
    QTest::mouseRelease(bar_, Qt::LeftButton, Qt::NoModifier, close);
    QVERIFY(bar_->isHidden());
    bar_->show();
    bar_->resize(5, 5);
    QVERIFY(bar_->width() >= 33);
    QVERIFY(bar_->height() >= 32);
}

void CRSizeBarTest::dockedAtTheTopTheBottomEdgeDrags() {
    frame_->addDockWidget(Qt::TopDockWidgetArea, bar_);
    QTRY_COMPARE(bar_->GetDockSide(), DockSide::Top);
    bar_->GetBarGeometry().horzSize.cy = 100;
    // Laid out at the top, the bar spans the window.
    QTRY_COMPARE(bar_->width(), frame_->width());
    const QPoint bottom(bar_->width() / 2, bar_->height() - 3);
    QCOMPARE(bar_->HitTest(bottom), int(kHitBottom));
    QCOMPARE(bar_->HitTest(QPoint(bar_->width() - 2, bar_->height() / 2)), int(kHitClient));
    // The close button heads the gripper strip on the left.
    QCOMPARE(bar_->HitTest(closeCenter()), int(kHitClose));
    QVERIFY(closeCenter().x() < 17);
    const int before = bar_->height();
    QTest::mousePress(bar_, Qt::LeftButton, Qt::NoModifier, bottom);
    QTest::mouseMove(bar_, bottom + QPoint(0, -20));
    QTest::mouseRelease(bar_, Qt::LeftButton, Qt::NoModifier, bottom + QPoint(0, -20));
    QCOMPARE(bar_->GetBarGeometry().horzSize.cy, before - 20);
    QTRY_COMPARE(bar_->height(), before - 20);
}

void CRSizeBarTest::edgeBetweenTwoBarsMovesLengthBetweenThem() {
    auto* second = new CRSizeBar;
    QVERIFY(second->CreateBar(QStringLiteral("Second"), frame_, QSize(150, 300), true, 10000));
    second->SetClient(new QLabel(QStringLiteral("second")));
    frame_->addDockWidget(Qt::LeftDockWidgetArea, second);
    frame_->splitDockWidget(bar_, second, Qt::Vertical);
    QTRY_VERIFY(second->isVisible() && second->y() > bar_->y() + bar_->height());
    QCOMPARE(bar_->RowBars().size(), std::size_t(2));
    QCOMPARE(bar_->RowBars().front(), bar_);
    const QPoint bottom(bar_->width() / 2, bar_->height() - 3);
    QCOMPARE(bar_->HitTest(bottom), int(kHitBottom));
    QCOMPARE(second->HitTest(QPoint(second->width() / 2, 2)), int(kHitTop));
    const int first = bar_->height();
    const int other = second->height();
    QTest::mousePress(bar_, Qt::LeftButton, Qt::NoModifier, bottom);
    QVERIFY(bar_->Tracker().sideDrag());
    QTest::mouseMove(bar_, bottom + QPoint(0, -30));
    QTest::mouseRelease(bar_, Qt::LeftButton, Qt::NoModifier, bottom + QPoint(0, -30));
    QTRY_COMPARE(bar_->height(), first - 30);
    QCOMPARE(second->height(), other + 30);
    // The neighbour never goes below its minimum length.
    const QPoint again(bar_->width() / 2, bar_->height() - 3);
    QTest::mousePress(bar_, Qt::LeftButton, Qt::NoModifier, again);
    QTest::mouseMove(bar_, again + QPoint(0, 1000));
    QTest::mouseRelease(bar_, Qt::LeftButton, Qt::NoModifier, again + QPoint(0, 1000));
    QCOMPARE(second->GetBarGeometry().vertSize.cy, 32);
}

void CRSizeBarTest::sizesKeptInTheSettings() {
    QSettings().remove(QStringLiteral("Test-SCBar-9999"));
    bar_->GetBarGeometry().vertSize = {120, 10};
    bar_->SaveSizes(QStringLiteral("Test"));
    QCOMPARE(QSettings().value(QStringLiteral("Test-SCBar-9999/sizeVertCX")).toInt(), 120);
    bar_->GetBarGeometry().vertSize = {200, 200};
    bar_->LoadSizes(QStringLiteral("Test"));
    // Read back, and never below the minimum.
    QCOMPARE(bar_->GetBarGeometry().vertSize, (BarSize{120, 32}));
    QSettings().remove(QStringLiteral("Test-SCBar-9999"));
}

int main(int argc, char** argv) {
    QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", home.path().toUtf8());
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("QuorvexTests"));
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, home.path());
    CRSizeBarTest test;
    return QTest::qExec(&test, argc, argv);
}

void CRSizeBarTest::floatsOnScreenAndRedocksWithoutSqueezingTheView() {
    const QRect screen = frame_->screen()->availableGeometry();
    bar_->GetBarGeometry().floatSize = {screen.width(), 300};
    bar_->setFloating(true);
    QTRY_VERIFY(screen.contains(bar_->frameGeometry()));
    QVERIFY(bar_->frameGeometry().width() <= std::max(screen.width() / 3, 33));

    // Floated again where an earlier screen put it: back on this one.
    bar_->setFloating(false);
    bar_->setFloating(true);
    bar_->move(screen.right() + 500, screen.bottom() + 500);
    bar_->setFloating(false);
    bar_->setFloating(true);
    QTRY_VERIFY(screen.contains(bar_->frameGeometry()));

    // Docked again with a width kept from a wider frame: the view keeps its room.
    bar_->GetBarGeometry().vertSize = {550, 300};
    bar_->setFloating(false);
    QTRY_COMPARE(bar_->width(), 600 - BarGeometry::kViewKeepsAtLeast);
    QVERIFY(frame_->centralWidget()->width() >= BarGeometry::kViewKeepsAtLeast - 10);
}

#include "CRSizeBarTest.moc"

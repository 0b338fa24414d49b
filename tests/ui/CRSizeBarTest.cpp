#include <QLabel>
#include <QMainWindow>
#include <QtTest>

#include "ui/CRSizeBar.h"

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

  private:
    // The middle of the 5-pixel edge, where the drag's offsets are measured from.
    QPoint rightEdge() const { return QPoint(bar_->width() - 3, bar_->height() / 2); }
    QPoint closeCenter() const {
        const BarRect r = bar_->barGeometry().CloseRect();
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
    bar_->setClient(new QLabel(QStringLiteral("client")));
    frame_->addDockWidget(Qt::LeftDockWidgetArea, bar_);
    frame_->resize(600, 400);
    frame_->show();
    QVERIFY(QTest::qWaitForWindowExposed(frame_));
    QTRY_COMPARE(bar_->width(), 150);
}

void CRSizeBarTest::cleanup() {
    delete frame_;
    frame_ = nullptr;
    QVERIFY(CRSizeBar::registry().empty());
}

void CRSizeBarTest::dragRightEdgeBy(int dx, bool release) {
    const QPoint start = rightEdge();
    QTest::mousePress(bar_, Qt::LeftButton, Qt::NoModifier, start);
    QVERIFY(bar_->tracker().tracking());
    QTest::mouseMove(bar_, start + QPoint(dx, 0));
    if (release) {
        QTest::mouseRelease(bar_, Qt::LeftButton, Qt::NoModifier, start + QPoint(dx, 0));
        QVERIFY(!bar_->tracker().tracking());
    }
}

void CRSizeBarTest::dockedLeftOnlyTheRightEdgeDrags() {
    QCOMPARE(bar_->dockSide(), DockSide::Left);
    QCOMPARE(bar_->HitTest(rightEdge()), int(kHitRight));
    QCOMPARE(bar_->HitTest(QPoint(2, bar_->height() / 2)), int(kHitClient));
    QCOMPARE(bar_->HitTest(QPoint(bar_->width() / 2, bar_->height() - 2)), int(kHitClient));
    QCOMPARE(bar_->HitTest(closeCenter()), int(kHitClose));
}

void CRSizeBarTest::widthStopsShortOfTheMainPaneAndAtTheMinimum() {
    const int pane = frame_->centralWidget()->width();
    const int before = bar_->width();
    dragRightEdgeBy(2000);
    QCOMPARE(bar_->barGeometry().vertSize.cx, before + pane - 4);
    QTRY_VERIFY(bar_->width() > before + pane / 2);
    QVERIFY(frame_->centralWidget()->width() >= 1);

    dragRightEdgeBy(-2000);
    QCOMPARE(bar_->barGeometry().vertSize.cx, 33);
    QTRY_COMPARE(bar_->width(), 33);
}

void CRSizeBarTest::rightButtonEndsTheDragWhereItIs() {
    dragRightEdgeBy(40, false);
    QCOMPARE(bar_->barGeometry().vertSize.cx, 190);
    QTest::mousePress(bar_, Qt::RightButton, Qt::NoModifier, rightEdge() + QPoint(40, 0));
    QVERIFY(!bar_->tracker().tracking());
    QTest::mouseMove(bar_, rightEdge() + QPoint(90, 0));
    QCOMPARE(bar_->barGeometry().vertSize.cx, 190);
    QTest::mouseRelease(bar_, Qt::LeftButton, Qt::NoModifier, rightEdge() + QPoint(90, 0));
    QTest::mouseRelease(bar_, Qt::RightButton, Qt::NoModifier, rightEdge() + QPoint(90, 0));
    QCOMPARE(bar_->barGeometry().vertSize.cx, 190);
    QTRY_COMPARE(bar_->width(), 190);
}

void CRSizeBarTest::outlineDragShowsTrackerAndResizesOnRelease() {
    bar_->setShowContentWhileDragging(false);
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
    QVERIFY(bar_->closeRaised());
    QVERIFY(!bar_->closePushed());
    QTest::mousePress(bar_, Qt::LeftButton, Qt::NoModifier, closeCenter());
    QVERIFY(bar_->closePushed());
    QVERIFY(!bar_->isFloating());
    QTest::mouseRelease(bar_, Qt::LeftButton, Qt::NoModifier, closeCenter());
    QVERIFY(bar_->isHidden());
}

void CRSizeBarTest::floatingBarHasNoEdges() {
    bar_->setFloating(true);
    QTRY_VERIFY(bar_->IsBarFloating());
    QCOMPARE(bar_->HitTest(QPoint(bar_->width() - 2, bar_->height() / 2)), int(kHitClient));
    bar_->resize(5, 5);
    QVERIFY(bar_->width() >= 33);
    QVERIFY(bar_->height() >= 32);
}

QTEST_MAIN(CRSizeBarTest)
#include "CRSizeBarTest.moc"

#include "gui/list/CListViewEx.h"
#include "gui/list/TextFitter.h"

#include <QApplication>
#include <QHeaderView>
#include <QHelpEvent>
#include <QLineEdit>
#include <QPainter>
#include <QStandardItemModel>
#include <QTest>
#include <QToolTip>
#include <QVBoxLayout>

namespace {
constexpr int kColumnWidth = 100;
const QString kLong = QStringLiteral("abcdefghijklmnopqrstuvwxyz0123456789");
}  // namespace

class CListViewExTest : public QObject {
    Q_OBJECT
  private:
    std::unique_ptr<QWidget> window_;
    CListViewEx* view_ = nullptr;
    QLineEdit* elsewhere_ = nullptr;
    QStandardItemModel model_{3, 3};

    // The viewport as painted when only `region` is repainted (a window that was covered).
    QImage paint(const QRegion& region = QRegion()) const {
        QImage image(view_->viewport()->size(), QImage::Format_RGB32);
        image.fill(Qt::magenta);
        // render() puts the region's top-left corner at the given offset.
        view_->viewport()->render(&image, region.boundingRect().topLeft(), region);
        return image;
    }
    int rowY(int row) const { return view_->visualRect(model_.index(row, 0)).center().y(); }
    // Leftmost dark pixel of a row between two x positions, -1 when there is none.
    int firstInk(const QImage& image, int row, int from, int to) const {
        const QRect rect = view_->visualRect(model_.index(row, 0));
        for (int x = from; x < to; ++x) {
            for (int y = rect.top(); y <= rect.bottom(); ++y) {
                if (qGray(image.pixel(x, y)) < 128) {
                    return x;
                }
            }
        }
        return -1;
    }

  private slots:
    void init() {
        window_ = std::make_unique<QWidget>();
        auto* layout = new QVBoxLayout(window_.get());
        elsewhere_ = new QLineEdit(window_.get());
        view_ = new CListViewEx(window_.get());
        layout->addWidget(elsewhere_);
        layout->addWidget(view_);
        for (int row = 0; row < 3; ++row) {
            for (int column = 0; column < 3; ++column) {
                model_.setItem(row, column, new QStandardItem(QStringLiteral("x")));
            }
        }
        view_->setModel(&model_);
        for (int column = 0; column < 3; ++column) {
            view_->header()->resizeSection(column, kColumnWidth);
        }
        QPalette palette = view_->palette();
        // A dark theme: rows stay white with black text whatever the palette says.
        palette.setColor(QPalette::Base, Qt::darkBlue);
        palette.setColor(QPalette::Text, Qt::white);
        view_->setPalette(palette);
        view_->EnableFullRowSelect(true);
        window_->resize(600, 300);
        window_->show();
        QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
        view_->setCurrentIndex(model_.index(0, 0));
        view_->setFocus();
        QTRY_VERIFY(view_->hasFocus());
    }
    void cleanup() { window_.reset(); }

    void selectedRowIsHighlightedToTheRightEdge() {
        const int right = view_->viewport()->width() - 2;
        QVERIFY(right > 3 * kColumnWidth + 20);
        const QColor highlight = view_->palette().color(QPalette::Active, QPalette::Highlight);
        QImage image = paint();
        QCOMPARE(QColor(image.pixel(right, rowY(0))), highlight);
        QCOMPARE(QColor(image.pixel(right, rowY(1))), QColor(Qt::white));
        QCOMPARE(QColor(image.pixel(kColumnWidth + 3, rowY(2))), QColor(Qt::white));

        // Only the strip right of the columns repainted, as after the window was uncovered.
        const QRect strip(3 * kColumnWidth + 10, 0, 40, view_->viewport()->height());
        image = paint(strip);
        QCOMPARE(QColor(image.pixel(strip.center().x(), rowY(0))), highlight);
        QCOMPARE(QColor(image.pixel(strip.center().x(), rowY(1))), QColor(Qt::white));
    }

    void noSelectionShownWithoutFocus() {
        elsewhere_->setFocus();
        QTRY_VERIFY(!view_->hasFocus());
        const QImage image = paint();
        QCOMPARE(QColor(image.pixel(view_->viewport()->width() - 2, rowY(0))), QColor(Qt::white));
        QCOMPARE(QColor(image.pixel(kColumnWidth / 2, view_->visualRect(model_.index(0, 0)).top())),
                 QColor(Qt::white));  // no focus rectangle either
    }

    void textsFitWithDotsAndKeepTheirAlignmentOnlyWhenWhole() {
        model_.item(1, 1)->setText(QStringLiteral("ab"));
        model_.item(1, 1)->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
        model_.item(2, 1)->setText(kLong);
        model_.item(2, 1)->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
        view_->clearSelection();
        const QImage image = paint();
        const int cellLeft = kColumnWidth;
        QVERIFY(firstInk(image, 1, cellLeft, cellLeft + kColumnWidth) >
                cellLeft + kColumnWidth / 2);
        const int longStart = firstInk(image, 2, cellLeft, cellLeft + kColumnWidth);
        QVERIFY(longStart >= cellLeft + CListViewEx::kOtherCellInset);
        QVERIFY(longStart < cellLeft + CListViewEx::kOtherCellInset + 4);
        QCOMPARE(firstInk(image, 2, cellLeft + kColumnWidth - CListViewEx::kOtherCellInset + 1,
                          cellLeft + kColumnWidth),
                 -1);  // nothing drawn over the next cell

        bool shortened = false;
        const QString shown =
            view_->FittedText(kLong, kColumnWidth, TextFitter::kOtherColumnMargin, &shortened);
        QVERIFY(shortened);
        QVERIFY(shown.endsWith(QStringLiteral("...")));
        QVERIFY(view_->fontMetrics().horizontalAdvance(shown) + TextFitter::kOtherColumnMargin <=
                kColumnWidth);
        QCOMPARE(view_->FittedText(QStringLiteral("ab"), kColumnWidth, 12, &shortened),
                 QStringLiteral("ab"));
        QVERIFY(!shortened);

        const QString japanese = QStringLiteral("ダウンロード中にエラーが発生しました");
        const QString cut =
            view_->FittedText(japanese, 60, TextFitter::kFirstColumnMargin, &shortened);
        QVERIFY(shortened);
        QVERIFY(japanese.startsWith(cut.chopped(3)));
        QVERIFY(!cut.contains(QChar::ReplacementCharacter));
        QCOMPARE(view_->FittedText(QStringLiteral("W"), 1, 12, &shortened), QStringLiteral("W..."));
    }

    void zeroWidthColumnSpringsBackExceptTheFirst() {
        view_->header()->resizeSection(2, 0);
        QTRY_COMPARE(view_->header()->sectionSize(2), CListViewEx::kSpringBackWidth);
        // Column 2 springing back again shows that the first column's turn has passed.
        view_->header()->resizeSection(0, 0);
        view_->header()->resizeSection(2, 0);
        QTRY_COMPARE(view_->header()->sectionSize(2), CListViewEx::kSpringBackWidth);
        QCOMPARE(view_->header()->sectionSize(0), 0);
    }

    void fullRowSelectSwitch() {
        QVERIFY(view_->fullRowSelect());
        QVERIFY(!view_->EnableFullRowSelect(true));
        QVERIFY(view_->EnableFullRowSelect(false));
        QVERIFY(view_->EnableFullRowSelect(true));
    }

    // A cell with a percent draws a bar of that share under its text.
    void percentDrawsABar() {
        model_.setData(model_.index(1, 1), 50.0, CListViewEx::kBarRole);
        const QImage image = paint();
        const int left = view_->header()->sectionPosition(1);
        const int y = rowY(1);
        QCOMPARE(QColor(image.pixel(left + 20, y)), QColor(134, 200, 134));
        QCOMPARE(QColor(image.pixel(left + kColumnWidth - 20, y)), QColor(232, 232, 232));
        QCOMPARE(QColor(image.pixel(left + 20, rowY(2))), QColor(Qt::white));
    }

    // A cut cell shows its whole text as a tool tip; a whole one shows none.
    void cutTextShowsAsToolTip_data() {
        QTest::addColumn<int>("column");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("tip");
        QTest::newRow("cut") << 2 << kLong << true;
        QTest::newRow("cut, first column") << 0 << kLong << true;
        QTest::newRow("whole") << 1 << QStringLiteral("short") << false;
    }
    void cutTextShowsAsToolTip() {
        QFETCH(int, column);
        QFETCH(QString, text);
        QFETCH(bool, tip);
        QToolTip::hideText();
        QTRY_VERIFY(!QToolTip::isVisible());
        model_.setData(model_.index(1, column), text);
        const QPoint at = view_->visualRect(model_.index(1, column)).center();
        QHelpEvent event(QEvent::ToolTip, at, view_->viewport()->mapToGlobal(at));
        QApplication::sendEvent(view_->viewport(), &event);
        QCOMPARE(QToolTip::isVisible(), tip);
        if (tip) {
            QCOMPARE(QToolTip::text(), text);
        }
    }

    // The stretch column takes the free width and never goes below what it was given.
    void stretchColumnTakesTheFreeWidth() {
        view_->SetStretchColumn(1);
        QHeaderView* header = view_->header();
        QCOMPARE(header->sectionPosition(2) + header->sectionSize(2), view_->viewport()->width());
        window_->resize(200, 300);
        QTRY_COMPARE(header->sectionSize(1), kColumnWidth);
        window_->resize(700, 300);
        QTRY_COMPARE(header->sectionPosition(2) + header->sectionSize(2),
                     view_->viewport()->width());
    }
};

QTEST_MAIN(CListViewExTest)
#include "CListViewExTest.moc"

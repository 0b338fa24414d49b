#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QMainWindow>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>
#include <fstream>
#include <sstream>

#include "core/session/MonitorSession.h"
#include "gui/detect/CSufixDlg.h"
#include "gui/detect/CTreeArea.h"
#include "gui/detect/CTypeTreeCtrl.h"
#include "gui/detect/TypeLabelDelegate.h"
#include "support/FileSizeLimit.h"

namespace {

std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void writeAll(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

}  // namespace

class DetectWidgetsTest : public QObject {
    Q_OBJECT

  private slots:
    void init();
    void readTicksKnownSuffixesAndListsTheRest_data();
    void readTicksKnownSuffixesAndListsTheRest();
    void writeRoundTrips_data();
    void writeRoundTrips();
    void missingFileOpensEmpty();
    void cancelWritesNothing();
    void okWritesThroughTheButton();
    void failedWriteKeepsTheOldListAndSaysWhy();
    void listBehindALinkIsWrittenWhereItLives();
    void controlsSitAtTheirDialogUnitPlaces();
    void treeHasOneSelectedExpandedRoot();
    void clickSelectionRules();
    void rightClickSelectsAndNotifies();
    void focusLossKeepsTheSelectedLook();
    void reloadLeavesTheTreeAlone();
    void typeLabelsKeepTheirCountsWhole();

  private:
    std::string path() const { return (dir_.path() + QStringLiteral("/sufix.txt")).toStdString(); }

    QTemporaryDir dir_;
};

void DetectWidgetsTest::init() {
    std::remove(path().c_str());
}

void DetectWidgetsTest::readTicksKnownSuffixesAndListsTheRest_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<QList<int>>("ticked");
    QTest::addColumn<QString>("others");
    QTest::newRow("known") << ".mp3\n.asf\n" << QList<int>{0, 6} << "";
    QTest::newRow("upper case goes to the box") << ".MP3\n" << QList<int>{} << "MP3\r\n";
    QTest::newRow("comments and blank lines skipped") << "# media\n\n.wmv\n#.avi\n"
                                                      << QList<int>{2} << "";
    QTest::newRow("trimmed both ends") << "  .flv \t\r\n" << QList<int>{10} << "";
    QTest::newRow("multi-dot keeps inner dots") << ".tar.gz\n.ogg\n"
                                                << QList<int>{} << "tar.gz\r\nogg\r\n";
    QTest::newRow("no dot kept as is") << "mkv\n" << QList<int>{} << "mkv\r\n";
    QTest::newRow("last line without line feed") << ".eva" << QList<int>{9} << "";
}

void DetectWidgetsTest::readTicksKnownSuffixesAndListsTheRest() {
    QFETCH(QString, file);
    QFETCH(QList<int>, ticked);
    QFETCH(QString, others);
    writeAll(path(), file.toStdString());
    CSufixDlg dialog(nullptr, path());
    for (int i = 0; i < CSufixDlg::kKnownCount; ++i) {
        QCOMPARE(dialog.Flag(i), ticked.contains(i));
        QCOMPARE(dialog.CheckBox(CSufixDlg::GetKnown()[i].id)->isChecked(), ticked.contains(i));
    }
    QCOMPARE(dialog.OtherSuffixes(), others);
    QString shown = others;
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    QCOMPARE(dialog.OtherEdit()->toPlainText(), shown);
}

void DetectWidgetsTest::writeRoundTrips_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("written");
    QTest::newRow("field order, not file order") << ".flv\n.mp3\n.asf\n# gone\n"
                                                 << ".asf\n.mp3\n.flv\n";
    QTest::newRow("others after the known, one dot each") << ".MP3\n.ogg\n.wmv\n"
                                                          << ".wmv\n.MP3\n.ogg\n";
    QTest::newRow("multi-dot suffix comes back whole") << ".tar.gz\n"
                                                       << ".tar.gz\n";
    QTest::newRow("nothing ticked writes an empty file") << "# only a comment\n"
                                                         << "";
    QTest::newRow("all eleven")
        << ".asf\n.rm\n.wmv\n.avi\n.wma\n.mid\n.mp3\n.wav\n.swf\n.eva\n.flv\n"
        << ".asf\n.rm\n.wmv\n.avi\n.wma\n.mid\n.mp3\n.wav\n.swf\n.eva\n.flv\n";
    QTest::newRow("the default list keeps every suffix")
        << ".asf\n.mid\n.wma\n.wmv\n.avi\n.mp3\n.eva\n.wav\n.swf\n.rm\n.flv\n.mp4\n.m4a\n"
           ".m4v\n.webm\n.m3u8\n.mpd\n.ts\n.aac\n.flac\n.ogg\n.opus\n"
        << ".asf\n.rm\n.wmv\n.avi\n.wma\n.mid\n.mp3\n.wav\n.swf\n.eva\n.flv\n.mp4\n.m4a\n"
           ".m4v\n.webm\n.m3u8\n.mpd\n.ts\n.aac\n.flac\n.ogg\n.opus\n";
}

void DetectWidgetsTest::writeRoundTrips() {
    QFETCH(QString, file);
    QFETCH(QString, written);
    writeAll(path(), file.toStdString());
    CSufixDlg dialog(nullptr, path());
    QVERIFY(dialog.Write());
    QCOMPARE(QString::fromStdString(readAll(path())), written);
}

void DetectWidgetsTest::missingFileOpensEmpty() {
    CSufixDlg dialog(nullptr, path());
    for (int i = 0; i < CSufixDlg::kKnownCount; ++i) {
        QVERIFY(!dialog.Flag(i));
    }
    QVERIFY(dialog.OtherEdit()->toPlainText().isEmpty());
    // Typed lines: blank ones are dropped, a typed dot is not doubled.
    dialog.CheckBox(1011)->setChecked(true);
    dialog.OtherEdit()->setPlainText(QStringLiteral("ogg\n   \n\n.mkv\n  webm  "));
    QVERIFY(dialog.Write());
    QCOMPARE(readAll(path()), std::string(".rm\n.ogg\n.mkv\n.webm\n"));
}

void DetectWidgetsTest::cancelWritesNothing() {
    writeAll(path(), "#keep\n.mp3\n");
    CSufixDlg dialog(nullptr, path());
    dialog.CheckBox(1010)->setChecked(true);
    QTest::mouseClick(dialog.findChild<QPushButton*>(QStringLiteral("cancel")), Qt::LeftButton);
    QCOMPARE(dialog.result(), int(QDialog::Rejected));
    QCOMPARE(readAll(path()), std::string("#keep\n.mp3\n"));
}

void DetectWidgetsTest::okWritesThroughTheButton() {
    writeAll(path(), ".mp3\n");
    CSufixDlg dialog(nullptr, path());
    dialog.CheckBox(1016)->setChecked(false);
    dialog.CheckBox(1021)->setChecked(true);
    QTest::mouseClick(dialog.findChild<QPushButton*>(QStringLiteral("ok")), Qt::LeftButton);
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(readAll(path()), std::string(".flv\n"));
}

// The disk fills up part-way through the new list: the old list stays whole, the user is told
// the system's reason, and the dialog stays open with the edits (OK again, or Cancel).
void DetectWidgetsTest::failedWriteKeepsTheOldListAndSaysWhy() {
    const std::string old =
        ".asf\n.rm\n.wmv\n.avi\n.wma\n.mid\n.mp3\n.wav\n.swf\n.eva\n"
        ".flv\n.ogg\n.mkv\n.mp4\n";
    writeAll(path(), old);
    QStringList shown;
    CSufixDlg dialog(nullptr, path(), [&shown](QWidget*, const QString& text) { shown << text; });
    dialog.show();
    dialog.OtherEdit()->setPlainText(QStringLiteral("ogg\nmkv\nmp4\nwebm\nflac\nopus"));
    {
        FileSizeLimit limit(16);
        QTest::mouseClick(dialog.findChild<QPushButton*>(QStringLiteral("ok")), Qt::LeftButton);
    }
    QCOMPARE(readAll(path()), old);
    QCOMPARE(shown.size(), 1);
    QVERIFY2(shown[0].startsWith(QStringLiteral("対象ファイル設定を保存できませんでした。")),
             qPrintable(shown[0]));
    QVERIFY2(shown[0].contains(QStringLiteral("File too large")), qPrintable(shown[0]));
    QVERIFY(dialog.isVisible());
    QVERIFY(dialog.result() != int(QDialog::Accepted));
    QVERIFY(QDir(dir_.path()).entryList(QDir::Files | QDir::Hidden) ==
            QStringList{QStringLiteral("sufix.txt")});
    // Room again: the same OK writes the list.
    QTest::mouseClick(dialog.findChild<QPushButton*>(QStringLiteral("ok")), Qt::LeftButton);
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(shown.size(), 1);
    QCOMPARE(readAll(path()),
             old.substr(0, old.find(".ogg")) + ".ogg\n.mkv\n.mp4\n.webm\n.flac\n.opus\n");
}

void DetectWidgetsTest::listBehindALinkIsWrittenWhereItLives() {
    const QString real = dir_.path() + QStringLiteral("/shared-list.txt");
    writeAll(real.toStdString(), ".mp3\n");
    QVERIFY(QFile::link(real, QString::fromStdString(path())));
    CSufixDlg dialog(nullptr, path());
    dialog.CheckBox(1021)->setChecked(true);
    QVERIFY(dialog.Write());
    QVERIFY(QFileInfo(QString::fromStdString(path())).isSymLink());
    QCOMPARE(readAll(real.toStdString()), std::string(".mp3\n.flv\n"));
    QFile::remove(real);
}

void DetectWidgetsTest::controlsSitAtTheirDialogUnitPlaces() {
    CSufixDlg small(nullptr, path());
    const QFont normal = QApplication::font();
    QFont big = normal;
    big.setPointSizeF(normal.pointSizeF() * 2);
    QApplication::setFont(big);
    CSufixDlg large(nullptr, path());
    QApplication::setFont(normal);
    // Twice the font, about twice the dialog; the boxes keep their rows and columns.
    QVERIFY(large.width() > small.width() * 3 / 2);
    QVERIFY(large.height() > small.height() * 3 / 2);
    for (CSufixDlg* dialog : {&small, &large}) {
        QCOMPARE(dialog->CheckBox(1010)->y(), dialog->CheckBox(1015)->y());
        QCOMPARE(dialog->CheckBox(1010)->x(), dialog->CheckBox(1013)->x());
        QVERIFY(dialog->CheckBox(1013)->y() > dialog->CheckBox(1010)->y());
        QVERIFY(dialog->CheckBox(1011)->x() > dialog->CheckBox(1010)->x());
        // Labels are never cut, whatever the font's kana width.
        for (QLabel* label : dialog->findChildren<QLabel*>()) {
            QVERIFY(label->width() >= label->sizeHint().width());
            QVERIFY(dialog->rect().contains(label->geometry()));
        }
        const QRect edit = dialog->OtherEdit()->geometry();
        QVERIFY(edit.bottom() < dialog->findChild<QPushButton*>(QStringLiteral("ok"))->y());
        QVERIFY(dialog->rect().contains(
            dialog->findChild<QPushButton*>(QStringLiteral("cancel"))->geometry()));
    }
}

void DetectWidgetsTest::treeHasOneSelectedExpandedRoot() {
    CTypeTreeCtrl tree;
    tree.BuildTree();
    QCOMPARE(tree.topLevelItemCount(), 1);
    QTreeWidgetItem* root = tree.Root();
    QCOMPARE(root->text(0), QStringLiteral("検出データ種別"));
    QCOMPARE(root->childCount(), 0);
    QVERIFY(root->isExpanded());
    QVERIFY(root->isSelected());
    QCOMPARE(tree.CurrentTreeItem(), root);
}

void DetectWidgetsTest::clickSelectionRules() {
    CTypeTreeCtrl tree;
    tree.resize(200, 200);
    tree.BuildTree();
    tree.show();
    QVERIFY(QTest::qWaitForWindowExposed(&tree));
    QTreeWidgetItem* root = tree.Root();
    const QRect row = tree.visualItemRect(root);
    const QPoint label(row.left() + 4, row.center().y());
    const QPoint beside(row.right() - 2, row.center().y());
    const QPoint below(row.left() + 4, row.bottom() + 40);

    QTest::mouseClick(tree.viewport(), Qt::LeftButton, Qt::NoModifier, beside);
    QVERIFY(!root->isSelected());
    QTest::mouseClick(tree.viewport(), Qt::LeftButton, Qt::NoModifier, below);
    QVERIFY(!root->isSelected());  // below the items: nothing changes
    QTest::mouseClick(tree.viewport(), Qt::LeftButton, Qt::NoModifier, label);
    QVERIFY(root->isSelected());
    QCOMPARE(tree.CurrentItemData(), 0);
    QTest::mouseClick(tree.viewport(), Qt::LeftButton, Qt::NoModifier, below);
    QVERIFY(root->isSelected());
    QTest::mouseDClick(tree.viewport(), Qt::LeftButton, Qt::NoModifier, label);
    QVERIFY(root->isSelected());
    QVERIFY(root->isExpanded());
}

void DetectWidgetsTest::rightClickSelectsAndNotifies() {
    CTypeTreeCtrl tree;
    tree.resize(200, 200);
    tree.BuildTree();
    tree.show();
    QVERIFY(QTest::qWaitForWindowExposed(&tree));
    QSignalSpy spy(&tree, &CTypeTreeCtrl::rightClicked);
    const QRect row = tree.visualItemRect(tree.Root());
    QTest::mouseClick(tree.viewport(), Qt::LeftButton, Qt::NoModifier,
                      QPoint(row.right() - 2, row.center().y()));
    QVERIFY(!tree.Root()->isSelected());
    QTest::mouseClick(tree.viewport(), Qt::RightButton, Qt::NoModifier,
                      QPoint(row.left() + 3, row.center().y()));
    QVERIFY(tree.Root()->isSelected());
    QTest::mouseClick(tree.viewport(), Qt::RightButton, Qt::NoModifier,
                      QPoint(row.left() + 3, row.bottom() + 50));
    QVERIFY(tree.Root()->isSelected());
    QCOMPARE(spy.count(), 2);
    QCOMPARE(spy.at(0).at(0).toInt(), 131);
}

void DetectWidgetsTest::focusLossKeepsTheSelectedLook() {
    CTypeTreeCtrl tree;
    tree.BuildTree();
    const QPalette pal = tree.palette();
    QCOMPARE(pal.color(QPalette::Inactive, QPalette::Highlight),
             pal.color(QPalette::Active, QPalette::Highlight));
    QFocusEvent out(QEvent::FocusOut);
    QCoreApplication::sendEvent(&tree, &out);
    QVERIFY(tree.Root()->isSelected());
}

void DetectWidgetsTest::reloadLeavesTheTreeAlone() {
    QMainWindow frame;
    MonitorSession session{SessionCallbacks{}};
    auto* area = new CTreeArea(session, path());
    QVERIFY(area->CreateBar(QStringLiteral("Tree Bar"), &frame, QSize(150, 300), true, 9999));
    QCOMPARE(area->GetSuffixTable()->count(), 22);  // created with the defaults
    QTreeWidgetItem* root = area->Tree()->Root();
    writeAll(path(), ".ogg\n");
    area->LoadSuffixList();
    QCOMPARE(area->GetSuffixTable()->count(), 1);
    QCOMPARE(area->Tree()->Root(), root);
    QCOMPARE(area->Tree()->topLevelItemCount(), 1);
}

// However narrow the pane, a label shows its count whole, and names that begin alike apart.
void DetectWidgetsTest::typeLabelsKeepTheirCountsWhole() {
    const QFontMetrics metrics(QApplication::font());
    const QString count = QStringLiteral(" (12,345)");
    for (int width : {40, 16, 4}) {  // in average characters
        const int pixels = width * metrics.averageCharWidth();
        QStringList shown;
        for (const QString& name :
             {QStringLiteral("Windous Media Video"), QStringLiteral("Windous Media Audio")}) {
            shown << TypeLabelDelegate::fitted(name, name + count, metrics, pixels);
            QVERIFY2(shown.last().endsWith(width > 4 ? name.right(1) + count : count),
                     qPrintable(shown.last()));
            QVERIFY(metrics.horizontalAdvance(shown.last()) <=
                    std::max(pixels, metrics.horizontalAdvance(count)));
        }
        QVERIFY(width == 4 || shown[0] != shown[1]);
    }
}

QTEST_MAIN(DetectWidgetsTest)
#include "CSufixDlgTest.moc"

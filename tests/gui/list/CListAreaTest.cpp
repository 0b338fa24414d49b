#include "core/detect/DetectedStream.h"
#include "core/session/MonitorSession.h"
#include "gui/app/FrameViewAdapter.h"
#include "gui/app/UiBridge.h"
#include "gui/list/CListArea.h"
#include "gui/list/CListViewEx.h"
#include "gui/list/CStreamListModel.h"
#include "gui/list/TextFitter.h"

#include <QAbstractItemModelTester>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QFileDialog>
#include <QHeaderView>
#include <QMenu>
#include <QMessageBox>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <cstring>
#include <thread>
#include <vector>

namespace {
DetectedStream makeStream(const char* scheme, const char* host, const char* path,
                          const char* suffix = ".wmv") {
    DetectedStream record{};
    std::strncpy(record.scheme, scheme, sizeof record.scheme - 1);
    std::strncpy(record.host, host, sizeof record.host - 1);
    std::strncpy(record.path, path, sizeof record.path - 1);
    std::strncpy(record.suffix, suffix, sizeof record.suffix - 1);
    std::strncpy(record.typeName, "Windows Media", sizeof record.typeName - 1);
    return record;
}

// Records the URLs handed to the desktop instead of starting programs.
class UrlCatcher : public QObject {
    Q_OBJECT
  public:
    QList<QUrl> urls;
  public slots:
    void open(const QUrl& url) { urls.append(url); }
};

}  // namespace

class CListAreaTest : public QObject {
    Q_OBJECT
  private:
    std::unique_ptr<UiBridge> bridge_;
    std::unique_ptr<MonitorSession> session_;
    std::unique_ptr<CListArea> area_;
    std::unique_ptr<QAbstractItemModelTester> tester_;
    UrlCatcher catcher_;

    void addAndFlush(const std::vector<DetectedStream>& records) {
        for (const DetectedStream& record : records) {
            session_->addStream(record);
        }
        area_->FlushPending();
    }
    QPoint rowCenter(int row) const {
        return area_->listCtrl()->visualRect(area_->Model()->index(row, 1)).center();
    }
    void clickRow(int row, Qt::MouseButton button = Qt::LeftButton) {
        QTest::mouseClick(area_->listCtrl()->viewport(), button, {}, rowCenter(row));
    }
    void doubleClickRow(int row) {
        // The view takes a double click only on the row the press went to.
        QTest::mousePress(area_->listCtrl()->viewport(), Qt::LeftButton, {}, rowCenter(row));
        QTest::mouseDClick(area_->listCtrl()->viewport(), Qt::LeftButton, {}, rowCenter(row));
    }
    // The list's own record of a row, written here as a download worker would.
    static TransferProgress percentDone(int percent) {
        TransferProgress progress;
        progress.stage = TransferProgress::Stage::kPercent;
        progress.percent = percent;
        return progress;
    }
    DetectedStream* recordAt(int row) const {
        return const_cast<DetectedStream*>(session_->record(row));
    }

  private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void init() {
        QSettings().remove(QStringLiteral("List"));  // widths and order of an earlier case
        bridge_ = std::make_unique<UiBridge>();
        session_ = std::make_unique<MonitorSession>(bridge_->callbacks());
        area_ = std::make_unique<CListArea>(*session_, *bridge_);
        tester_ = std::make_unique<QAbstractItemModelTester>(
            area_->Model(), QAbstractItemModelTester::FailureReportingMode::QtTest);
        area_->resize(800, 300);
        area_->show();
        QVERIFY(QTest::qWaitForWindowExposed(area_.get()));
        QDesktopServices::setUrlHandler(QStringLiteral("http"), &catcher_, "open");
        QDesktopServices::setUrlHandler(QStringLiteral("file"), &catcher_, "open");
        catcher_.urls.clear();
        // The toolkit's opener (caught above), and a desktop that cannot be asked further.
        ExternalOpener::Probe probe = ExternalOpener::desktop();
        probe.defaultHandler = [](const QString&) { return std::optional<QString>(); };
        area_->Opener().setProbe(probe);
    }
    void cleanup() {
        QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
        QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
        tester_.reset();
        area_.reset();
        session_.reset();
        bridge_.reset();
    }

    void columnsAndHeaders() {
        const char* headers[] = {"Host", "ＵＲＬ",   "サイズ", "進行状況",
                                 "時間", "転送速度", "種別"};
        // At least these; a status column as wide as its usual texts need, whatever the font.
        const int widths[] = {150, 150, 60, 50, 80, 60, 100};
        const char* usual[] = {"", "", "1234.56 MB", "再試行 4/4", "59分 59秒", "12345 KB/S", ""};
        QCOMPARE(area_->Model()->columnCount(), 7);
        QHeaderView* header = area_->listCtrl()->header();
        for (int column = 0; column < 7; ++column) {
            QCOMPARE(area_->Model()->headerData(column, Qt::Horizontal).toString(),
                     QString::fromUtf8(headers[column]));
            if (column == CStreamListModel::kUrl) {
                continue;
            }
            if (*usual[column] == '\0') {
                QCOMPARE(header->sectionSize(column), widths[column]);
            }
            QVERIFY(header->sectionSize(column) >= widths[column]);
            bool shortened = true;
            area_->listCtrl()->FittedText(QString::fromUtf8(usual[column]),
                                          header->sectionSize(column),
                                          TextFitter::kOtherColumnMargin, &shortened);
            QVERIFY2(!shortened, usual[column]);
        }
        // The URL column takes the free width, and gives it back down to its own.
        const int viewport = area_->listCtrl()->viewport()->width();
        QCOMPARE(header->sectionPosition(6) + header->sectionSize(6), viewport);
        area_->resize(300, 300);
        QTRY_COMPARE(header->sectionSize(CStreamListModel::kUrl), 150);
        QVERIFY(area_->listCtrl()->fullRowSelect());
        QCOMPARE(area_->listCtrl()->selectionMode(), QAbstractItemView::ExtendedSelection);
    }

    void newRowsShowHostAndPathOnly() {
        // The rows show what the store holds; a detection brings no status texts.
        DetectedStream record = makeStream("http", "http://h", "/a.wmv");
        addAndFlush({record});
        QCOMPARE(area_->itemCount(), 1);
        QCOMPARE(area_->Model()->index(0, 0).data().toString(), QStringLiteral("http://h"));
        QCOMPARE(area_->Model()->index(0, 1).data().toString(), QStringLiteral("/a.wmv"));
        for (int column = 2; column < 6; ++column) {
            QVERIFY(area_->Model()->index(0, column).data().toString().isEmpty());
        }
        QCOMPARE(area_->Model()->index(0, 6).data().toString(), QStringLiteral("Windows Media"));
    }

    void dedupFromSeveralThreads() {
        constexpr int kThreads = 4;
        constexpr int kShared = 200;
        constexpr int kOwn = 100;
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back([this, t] {
                for (int i = 0; i < kShared + kOwn; ++i) {
                    const std::string path = i < kShared ? "/shared/" + std::to_string(i) + ".wmv"
                                                         : "/own/" + std::to_string(t) + "/" +
                                                               std::to_string(i) + ".wmv";
                    const DetectedStream record = makeStream("http", "http://h", path.c_str());
                    session_->addStream(record);
                }
            });
        }
        for (auto& thread : threads) {
            thread.join();
        }
        QTRY_COMPARE(area_->Model()->rowCount(), kShared + kThreads * kOwn);
        QSet<QString> urls;
        for (int row = 0; row < area_->Model()->rowCount(); ++row) {
            urls.insert(area_->Model()->index(row, 1).data().toString());
        }
        QCOMPARE(urls.size(), kShared + kThreads * kOwn);
    }

    void hostAndCaseMakeDistinctRows() {
        addAndFlush(
            {makeStream("http", "http://a", "/x.wmv"), makeStream("http", "http://b", "/x.wmv"),
             makeStream("http", "http://a", "/X.wmv"), makeStream("http", "http://a", "/x.wmv")});
        QCOMPARE(area_->itemCount(), 3);
    }

    void refreshFromWorkerThreads() {
        addAndFlush(
            {makeStream("http", "http://h", "/a.wmv"), makeStream("http", "http://h", "/b.wmv")});
        DetectedStream* second = recordAt(1);
        std::thread worker([second, this] {
            for (int percent = 0; percent <= 100; ++percent) {
                TransferProgress progress = percentDone(percent);
                progress.size = 10240;
                session_->showTransfer(*second, progress);
            }
        });
        worker.join();
        QTRY_COMPARE(area_->Model()->index(1, 3).data().toString(), QStringLiteral("100%"));
        QCOMPARE(area_->Model()->index(1, 2).data().toString(), QStringLiteral("10.0 KB"));
        QVERIFY(area_->Model()->index(0, 3).data().toString().isEmpty());

        // Another record of the same stream reaches the same row.
        const DetectedStream other = makeStream("http", "http://h", "/b.wmv");
        session_->showTransfer(other, percentDone(7));
        area_->FlushPending();
        QCOMPARE(area_->Model()->index(1, 3).data().toString(), QStringLiteral("7%"));
        QCOMPARE(area_->itemCount(), 2);
    }

    void resetEmptiesTheList() {
        addAndFlush({makeStream("http", "http://h", "/a.wmv")});
        clickRow(0);
        QVERIFY(area_->HasCurrentStream());
        area_->OnInitialUpdate();
        QCOMPARE(area_->Model()->rowCount(), 0);
        QCOMPARE(area_->itemCount(), 0);
        QVERIFY(!area_->HasCurrentStream());
        addAndFlush({makeStream("http", "http://h", "/a.wmv")});
        QCOMPARE(area_->itemCount(), 1);
    }

    // The commands act on the highlighted row, however it was reached.
    void commandsFollowTheHighlightedRow() {
        addAndFlush({makeStream("http", "http://h", "/a.wmv"),
                     makeStream("http", "http://h", "/b.wmv"),
                     makeStream("rtsp", "rtsp://h", "/c.rm")});
        QVERIFY(!area_->HasCurrentStream());
        clickRow(1);
        QCOMPARE(area_->currentStream(), recordAt(1));

        QTest::keyClick(area_->listCtrl(), Qt::Key_Down);
        QCOMPARE(area_->currentStream(), recordAt(2));
        QTest::keyClick(area_->listCtrl(), Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("rtsp://h/c.rm"));
        // Enter runs the double-click action: an rtsp row copies its URL.
        QGuiApplication::clipboard()->clear();
        QTest::keyClick(area_->listCtrl(), Qt::Key_Return);
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("rtsp://h/c.rm"));

        // A right click picks its row, then shows the menu (closed here at once).
        QTimer::singleShot(50, [] {
            if (QWidget* popup = QApplication::activePopupWidget()) {
                popup->close();
            }
        });
        QContextMenuEvent rightClick(QContextMenuEvent::Mouse, rowCenter(0),
                                     area_->listCtrl()->viewport()->mapToGlobal(rowCenter(0)));
        QApplication::sendEvent(area_->listCtrl()->viewport(), &rightClick);
        QCOMPARE(area_->currentStream(), recordAt(0));
    }

    // The menu key and Shift+F10 open the menu of the highlighted row.
    void menuKeysOpenTheMenu_data() {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::newRow("menu key") << int(Qt::Key_Menu) << int(Qt::NoModifier);
        QTest::newRow("shift+f10") << int(Qt::Key_F10) << int(Qt::ShiftModifier);
    }
    void menuKeysOpenTheMenu() {
        QFETCH(int, key);
        QFETCH(int, modifiers);
        addAndFlush(
            {makeStream("http", "http://h", "/a.wmv"), makeStream("http", "http://h", "/b.wmv")});
        clickRow(0);
        QTest::keyClick(area_->listCtrl(), Qt::Key_Down);
        bool shown = false;
        QTimer::singleShot(50, [&shown] {
            if (QWidget* popup = QApplication::activePopupWidget()) {
                shown = true;
                popup->close();
            }
        });
        QTest::keyClick(area_->listCtrl(), Qt::Key(key), Qt::KeyboardModifiers(modifiers));
        QVERIFY(shown);
        QCOMPARE(area_->currentStream(), recordAt(1));
    }

    void copyTakesEverySelectedRow() {
        addAndFlush({makeStream("http", "http://h", "/a.wmv"),
                     makeStream("http", "http://h", "/b.wmv"),
                     makeStream("http", "http://h", "/c.wmv")});
        clickRow(2);
        QTest::mouseClick(area_->listCtrl()->viewport(), Qt::LeftButton, Qt::ControlModifier,
                          rowCenter(0));
        QCOMPARE(area_->SelectedCount(), 2);
        QVERIFY(area_->OnCommand(CListArea::kCommandCopyUrl));
        QCOMPARE(QGuiApplication::clipboard()->text(),
                 QStringLiteral("http://h/a.wmv\nhttp://h/c.wmv"));
    }

    // Sorted by a status column, a row moves when a download changes its text; the
    // highlighted row goes with it.
    void sortedRowFollowsItsStatus() {
        addAndFlush({makeStream("http", "http://h", "/a.wmv"),
                     makeStream("http", "http://h", "/b.wmv"),
                     makeStream("http", "http://h", "/c.wmv")});
        area_->listCtrl()->sortByColumn(CStreamListModel::kProgress, Qt::DescendingOrder);
        area_->FlushPending();
        clickRow(2);
        QCOMPARE(area_->CurrentRow(), 2);
        session_->showTransfer(*recordAt(2), percentDone(40));
        session_->showTransfer(*recordAt(0), percentDone(9));
        area_->FlushPending();
        QCOMPARE(area_->Model()->index(0, 1).data().toString(), QStringLiteral("/c.wmv"));
        QCOMPARE(area_->Model()->index(1, 1).data().toString(), QStringLiteral("/a.wmv"));
        QCOMPARE(area_->Model()->index(0, 3).data(CStreamListModel::kPercentRole).toDouble(), 40.0);
        QCOMPARE(area_->CurrentRow(), 2);
        QCOMPARE(area_->listCtrl()->currentIndex().row(), 0);

        // New rows go to their places in the order; the highlighted row stays with its own.
        area_->listCtrl()->sortByColumn(CStreamListModel::kUrl, Qt::AscendingOrder);
        area_->FlushPending();
        QCOMPARE(area_->listCtrl()->currentIndex().row(), 2);
        addAndFlush(
            {makeStream("http", "http://h", "/b5.wmv"), makeStream("http", "http://h", "/0.wmv")});
        QStringList shown;
        for (int row = 0; row < area_->Model()->rowCount(); ++row) {
            shown << area_->Model()->index(row, 1).data().toString();
        }
        QCOMPARE(shown.join(QLatin1Char(' ')),
                 QStringLiteral("/0.wmv /a.wmv /b.wmv /b5.wmv /c.wmv"));
        QCOMPARE(area_->CurrentRow(), 2);
        QCOMPARE(area_->listCtrl()->currentIndex().row(), 4);
    }

    // Widths and the sort order are kept across runs.
    void headerKeptAcrossRuns() {
        area_->listCtrl()->header()->resizeSection(CStreamListModel::kHost, 222);
        area_->listCtrl()->sortByColumn(CStreamListModel::kSize, Qt::DescendingOrder);
        tester_.reset();
        area_.reset();
        area_ = std::make_unique<CListArea>(*session_, *bridge_);
        QCOMPARE(area_->listCtrl()->header()->sectionSize(CStreamListModel::kHost), 222);
        QCOMPARE(area_->Model()->sortColumn(), int(CStreamListModel::kSize));
        QCOMPARE(area_->Model()->sortOrder(), Qt::DescendingOrder);
    }

    // Delete takes the selected rows out, except one being downloaded; a stream taken out is
    // listed again when seen again.
    void deleteTakesSelectedRows_data() {
        QTest::addColumn<QString>("selected");  // rows clicked with Ctrl, as shown
        QTest::addColumn<int>("downloading");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<QString>("said");  // empty: nothing
        QTest::addColumn<bool>("menu");     // by the context menu's 削除, not the key
        const QString stays = QStringLiteral("ダウンロード中の 1 行は削除しませんでした。");
        const QString refused = QStringLiteral("ダウンロード中の行は削除できません。");
        QTest::newRow("one") << "1" << -1 << "/a.wmv /c.wmv /d.mp3"
                             << "" << false;
        QTest::newRow("several") << "0 3 2" << -1 << "/b.wmv"
                                 << "" << false;
        QTest::newRow("downloading stays")
            << "0 1" << 1 << "/b.wmv /c.wmv /d.mp3" << stays << false;
        QTest::newRow("only downloading")
            << "2" << 2 << "/a.wmv /b.wmv /c.wmv /d.mp3" << refused << false;
        QTest::newRow("by the menu") << "1" << -1 << "/a.wmv /c.wmv /d.mp3"
                                     << "" << true;
        QTest::newRow("by the menu, downloading")
            << "3" << 3 << "/a.wmv /b.wmv /c.wmv /d.mp3" << refused << true;
    }
    void deleteTakesSelectedRows() {
        QFETCH(QString, selected);
        QFETCH(int, downloading);
        QFETCH(QString, expected);
        DetectedStream mp3 = makeStream("http", "http://h", "/d.mp3");
        std::strcpy(mp3.typeName, "MP3");
        addAndFlush({makeStream("http", "http://h", "/a.wmv"),
                     makeStream("http", "http://h", "/b.wmv"),
                     makeStream("http", "http://h", "/c.wmv"), mp3});
        if (downloading >= 0) {
            recordAt(downloading)->state = kStateDownloading;
        }
        for (const QString& row : selected.split(QLatin1Char(' '))) {
            QTest::mouseClick(area_->listCtrl()->viewport(), Qt::LeftButton, Qt::ControlModifier,
                              rowCenter(row.toInt()));
        }
        QFETCH(QString, said);
        QFETCH(bool, menu);
        QString told;
        QTimer::singleShot(0, [&told] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                told = box->text();
                box->accept();
            }
        });
        // The frame hears of rows taken out: its list no longer matches its file.
        int removals = 0;
        FrameViewAdapter<CListArea> frameView(area_.get());
        frameView.OnRowsRemoved([&removals] { ++removals; });
        if (menu) {
            area_->ContextMenu()->actions()[15]->trigger();
        } else {
            QTest::keyClick(area_->listCtrl(), Qt::Key_Delete);
        }
        QCoreApplication::processEvents();  // no question: the catcher goes now
        QVERIFY2(said.isEmpty() ? told.isEmpty() : told.startsWith(said), qPrintable(told));
        QCOMPARE(removals, said == QStringLiteral("ダウンロード中の行は削除できません。") ? 0 : 1);
        QStringList shown;
        for (int row = 0; row < area_->Model()->rowCount(); ++row) {
            shown << area_->Model()->index(row, 1).data().toString();
        }
        QCOMPARE(shown.join(QLatin1Char(' ')), expected);
        QCOMPARE(session_->rowCount(), static_cast<int>(shown.size()));
        int counted = 0;
        for (const auto& [type, count] : area_->TypeCounts()) {
            counted += count;
        }
        QCOMPARE(counted, static_cast<int>(shown.size()));
        if (shown.contains(QStringLiteral("/a.wmv"))) {
            return;
        }
        addAndFlush({makeStream("http", "http://h", "/a.wmv")});
        QCOMPARE(area_->Model()->index(area_->Model()->rowCount() - 1, 1).data().toString(),
                 QStringLiteral("/a.wmv"));
    }

    // Sort by any column, both ways; filters by text (host or path) and by type.
    void sortAndFilter_data() {
        QTest::addColumn<int>("column");
        QTest::addColumn<int>("order");
        QTest::addColumn<QString>("filter");
        QTest::addColumn<QString>("type");
        QTest::addColumn<QString>("expected");  // paths as shown
        const int asc = Qt::AscendingOrder;
        const int desc = Qt::DescendingOrder;
        QTest::newRow("as seen") << -1 << asc << ""
                                 << ""
                                 << "/c10.wmv /a2.mp3 /b9.wmv /D.asf";
        QTest::newRow("path, numbers by value") << 1 << asc << ""
                                                << ""
                                                << "/D.asf /a2.mp3 /b9.wmv /c10.wmv";
        QTest::newRow("path down") << 1 << desc << ""
                                   << ""
                                   << "/c10.wmv /b9.wmv /a2.mp3 /D.asf";
        QTest::newRow("host, ties as seen") << 0 << asc << ""
                                            << ""
                                            << "/a2.mp3 /D.asf /c10.wmv /b9.wmv";
        QTest::newRow("size by amount") << 2 << asc << ""
                                        << ""
                                        << "/a2.mp3 /D.asf /c10.wmv /b9.wmv";
        QTest::newRow("size down") << 2 << desc << ""
                                   << ""
                                   << "/b9.wmv /c10.wmv /D.asf /a2.mp3";
        QTest::newRow("type") << 6 << asc << ""
                              << ""
                              << "/D.asf /a2.mp3 /c10.wmv /b9.wmv";
        QTest::newRow("filter on path, any case") << -1 << asc << "d.A"
                                                  << ""
                                                  << "/D.asf";
        QTest::newRow("filter on host") << 1 << asc << "beta"
                                        << ""
                                        << "/D.asf /a2.mp3";
        QTest::newRow("type only") << 1 << asc << ""
                                   << "Windows Media"
                                   << "/b9.wmv /c10.wmv";
        QTest::newRow("type and text") << -1 << asc << "9"
                                       << "Windows Media"
                                       << "/b9.wmv";
        QTest::newRow("nothing") << -1 << asc << "zzz"
                                 << ""
                                 << "";
    }
    void sortAndFilter() {
        QFETCH(int, column);
        QFETCH(int, order);
        QFETCH(QString, filter);
        QFETCH(QString, type);
        QFETCH(QString, expected);
        DetectedStream a = makeStream("http", "http://zeta", "/c10.wmv");
        DetectedStream b = makeStream("http", "http://beta", "/a2.mp3");
        std::strcpy(b.typeName, "MP3");
        DetectedStream c = makeStream("http", "http://zeta", "/b9.wmv");
        DetectedStream d = makeStream("http", "http://beta", "/D.asf");
        std::strcpy(d.typeName, "ASF");
        addAndFlush({a, b, c, d});
        const std::uint64_t sizes[] = {1572864, 0, 2097152, 921600};  // the second shows none
        for (int row = 0; row < 4; ++row) {
            TransferProgress progress;
            if (sizes[row] != 0) {
                progress.size = sizes[row];
            }
            session_->showTransfer(*recordAt(row), progress);
        }
        area_->FlushPending();
        clickRow(2);  // the highlighted row follows its stream
        area_->listCtrl()->sortByColumn(column, Qt::SortOrder(order));
        area_->SetFilterText(filter);
        area_->SetTypeFilter(type);
        area_->FlushPending();
        QStringList shown;
        for (int row = 0; row < area_->Model()->rowCount(); ++row) {
            shown << area_->Model()->index(row, 1).data().toString();
        }
        QCOMPARE(shown.join(QLatin1Char(' ')), expected);
        if (expected.contains(QStringLiteral("/b9.wmv"))) {
            QCOMPARE(area_->CurrentRow(), 2);
        }
    }

    void contextMenuStates_data() {
        QTest::addColumn<QString>("scheme");
        QTest::addColumn<int>("state");
        QTest::addColumn<bool>("save");
        QTest::addColumn<bool>("abort");
        QTest::addColumn<bool>("play");
        QTest::addColumn<bool>("fileThere");
        QTest::newRow("idle") << "http" << 0 << true << false << false << true;
        QTest::newRow("downloading") << "http" << 1 << false << true << false << true;
        QTest::newRow("ended") << "mms" << 2 << true << false << true << true;
        QTest::newRow("ended, file gone") << "http" << 2 << true << false << false << false;
        QTest::newRow("rtsp idle") << "rtsp" << 0 << true << false << false << true;
        QTest::newRow("rtsp recording") << "rtsp" << 1 << false << true << false << true;
        QTest::newRow("rtsp ended") << "rtsp" << 2 << true << false << true << true;
        // Waiting for its turn or paused: stopped like a running one, not saved again.
        QTest::newRow("waiting") << "http" << 3 << false << true << false << true;
        QTest::newRow("paused") << "http" << 4 << false << true << false << true;
    }
    void contextMenuStates() {
        QFETCH(QString, scheme);
        QFETCH(int, state);
        QFETCH(bool, fileThere);
        DetectedStream record = makeStream(scheme.toLatin1().constData(), "x://h", "/a.wmv");
        addAndFlush({record});
        clickRow(0);
        recordAt(0)->state = state;
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("a.wmv"));
        if (fileThere) {
            QFile(file).open(QIODevice::WriteOnly);
        }
        std::strcpy(recordAt(0)->localFile, QFile::encodeName(file).constData());

        const QList<QAction*> actions = area_->ContextMenu()->actions();
        QStringList texts;
        for (QAction* action : actions) {
            texts << (action->isSeparator() ? QStringLiteral("-") : action->text());
        }
        QCOMPARE(texts,
                 (QStringList{QStringLiteral("名前を付けて保存（ダウンロード）"),
                              QStringLiteral("ダウンロード フォルダに保存"), QStringLiteral("中止"),
                              QStringLiteral("一時停止"), QStringLiteral("再開"),
                              QStringLiteral("-"), QStringLiteral("ブラウザで直接開く"),
                              QStringLiteral("ダウンロードしたファイルを再生"),
                              QStringLiteral("保存先フォルダを開く"), QStringLiteral("-"),
                              QStringLiteral("URLをコピー               Ctrl+C"),
                              QStringLiteral("curl コマンドとしてコピー"),
                              QStringLiteral("ffmpeg コマンドとしてコピー"),
                              QStringLiteral("yt-dlp コマンドとしてコピー"), QStringLiteral("-"),
                              QStringLiteral("削除"), QStringLiteral("-"),
                              QStringLiteral("キャンセル")}));
        QFETCH(bool, save);
        QFETCH(bool, abort);
        QFETCH(bool, play);
        QCOMPARE(actions[0]->isEnabled(), save);
        QCOMPARE(actions[1]->isEnabled(), save);
        QCOMPARE(actions[2]->isEnabled(), abort);
        QVERIFY(!actions[3]->isEnabled());  // no download of the session runs to pause
        QCOMPARE(actions[4]->isEnabled(), state == kStatePaused);
        QVERIFY(actions[6]->isEnabled());
        QCOMPARE(actions[7]->isEnabled(), play);
        QCOMPARE(actions[8]->isEnabled(), play);  // the folder of the same downloaded file
        QVERIFY(actions[10]->isEnabled());
        QVERIFY(actions[11]->isEnabled());
        QVERIFY(actions[12]->isEnabled());
        QVERIFY(actions[13]->isEnabled());
        QVERIFY(actions[15]->isEnabled());
        QVERIFY(actions[17]->isEnabled());
    }

    // Stopping a live recording keeps its file: its entry says it ends the recording.
    void stopOfALiveRecordingIsNamedSo() {
        addAndFlush({makeStream("rtsp", "rtsp://h", "/cam")});
        clickRow(0);
        StoreDownloadState(*recordAt(0), kStateDownloading);
        auto abortText = [this] {
            for (QAction* action : area_->ContextMenu()->actions()) {
                if (action->data().toInt() == CListArea::kCommandAbort) {
                    return action->isEnabled() ? action->text() : QString();
                }
            }
            return QString();
        };
        QCOMPARE(abortText(), QStringLiteral("中止"));
        StoreLiveRecording(*recordAt(0), true);
        QCOMPARE(abortText(), QStringLiteral("録画を終了"));
        StoreLiveRecording(*recordAt(0), false);
        QCOMPARE(abortText(), QStringLiteral("中止"));
    }

    // The row as a command, quoted for a POSIX shell; its cookie only with cookie reuse on, and
    // only in curl's form.
    void copyAsCommandQuotesEveryField() {
        DetectedStream record = makeStream("http", "http://h", "/a'$(x).wmv");
        std::strcpy(record.referer, "http://page/'`y`'");
        std::strcpy(record.userAgent, "Player \"1\"");
        std::strcpy(record.cookie, "sid=1");
        addAndFlush({record});
        clickRow(0);
        QVERIFY(area_->OnCommand(CListArea::kCommandCopyAsCurl));
        QCOMPARE(QGuiApplication::clipboard()->text(),
                 QStringLiteral("curl --globoff --location --referer "
                                "'http://page/'\\''`y`'\\''' --user-agent 'Player \"1\"' "
                                "--remote-name --url 'http://h/a'\\''$(x).wmv'"));
        session_->setCookieReuse(true);
        QVERIFY(area_->OnCommand(CListArea::kCommandCopyAsCurl));
        QCOMPARE(QGuiApplication::clipboard()->text(),
                 QStringLiteral("curl --globoff --referer 'http://page/'\\''`y`'\\''' "
                                "--user-agent 'Player \"1\"' --cookie 'sid=1' "
                                "--remote-name --url 'http://h/a'\\''$(x).wmv'"));
        QVERIFY(area_->OnCommand(CListArea::kCommandCopyAsYtDlp));
        QCOMPARE(QGuiApplication::clipboard()->text(),
                 QStringLiteral("yt-dlp --referer 'http://page/'\\''`y`'\\''' "
                                "--user-agent 'Player \"1\"' -- 'http://h/a'\\''$(x).wmv'"));
        // Every selected row, one command a line, in the order shown.
        addAndFlush({makeStream("http", "http://h", "/b.mp4")});
        QTest::mouseClick(area_->listCtrl()->viewport(), Qt::LeftButton, Qt::ControlModifier,
                          rowCenter(1));
        QVERIFY(area_->OnCommand(CListArea::kCommandCopyAsFfmpeg));
        QCOMPARE(QGuiApplication::clipboard()->text(),
                 QStringLiteral("ffmpeg -referer 'http://page/'\\''`y`'\\''' -user_agent "
                                "'Player \"1\"' -i 'http://h/a'\\''$(x).wmv' -c copy ax.wmv\n"
                                "ffmpeg -i http://h/b.mp4 -c copy b.mp4"));
    }

    void copyUrlIsExactlyHostAndPath() {
        addAndFlush({makeStream("http", "http://media.example", "/v/a.wmv?x=1&y=%20")});
        area_->OnCopyUrl();  // nothing clicked yet: nothing copied
        QGuiApplication::clipboard()->setText(QStringLiteral("before"));
        area_->OnCopyUrl();
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("before"));

        clickRow(0);
        QTest::keyClick(area_->listCtrl(), Qt::Key_Down);
        QVERIFY(area_->OnCommand(CListArea::kCommandCopyUrl));
        QCOMPARE(QGuiApplication::clipboard()->text(),
                 QStringLiteral("http://media.example/v/a.wmv?x=1&y=%20"));
    }

    void doubleClickDispatch() {
        addAndFlush({makeStream("rtsp", "rtsp://h", "/live.rm"),
                     makeStream("http", "http://h", "/d.wmv"),
                     makeStream("http", "http://h", "/e.wmv")});
        QGuiApplication::clipboard()->clear();
        doubleClickRow(0);
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("rtsp://h/live.rm"));

        recordAt(1)->state = kStateDownloading;
        doubleClickRow(1);
        QCOMPARE(area_->currentStream(), recordAt(1));
        QVERIFY(catcher_.urls.isEmpty());

        recordAt(2)->state = kStateEnded;
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("e.wmv"));
        std::strcpy(recordAt(2)->localFile, QFile::encodeName(file).constData());
        doubleClickRow(2);  // the file has gone: nothing to play
        QVERIFY(catcher_.urls.isEmpty());
        QFile(file).open(QIODevice::WriteOnly);
        doubleClickRow(2);
        QCOMPARE(catcher_.urls, QList<QUrl>{QUrl::fromLocalFile(file)});

        // An idle stream opens the save dialog with the proposed name; cancelled here.
        recordAt(2)->state = kStateIdle;
        QString proposed;
        QTimer::singleShot(0, [&proposed] {
            if (auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
                proposed = dialog->selectedFiles().value(0);
                dialog->reject();
            }
        });
        doubleClickRow(2);
        QVERIFY(proposed.endsWith(QStringLiteral("/e.wmv")));
        QCOMPARE(recordAt(2)->state, int(kStateIdle));
    }

    void openInBrowserOnlyForWebAndStreamSchemes() {
        addAndFlush({makeStream("http", "http://h", "/a.wmv"),
                     makeStream("http", "file://", "/etc/passwd")});
        clickRow(0);
        area_->OnCommand(CListArea::kCommandOpenInBrowser);
        QCOMPARE(catcher_.urls, QList<QUrl>{QUrl(QStringLiteral("http://h/a.wmv"))});

        clickRow(1);
        QString shown;
        QTimer::singleShot(0, [&shown] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                shown = box->text();
                box->accept();
            }
        });
        area_->OnCommand(CListArea::kCommandOpenInBrowser);
        QVERIFY(shown.contains(QStringLiteral("file:///etc/passwd")));
        QCOMPARE(catcher_.urls.size(), 1);
    }

    void noBrowserOrPlayerIsSaid_data() {
        QTest::addColumn<int>("command");
        QTest::addColumn<bool>("opens");       // the toolkit found an opener
        QTest::addColumn<QString>("handler");  // the desktop's program; "-": not asked
        QTest::addColumn<bool>("fallbackBrowser");
        QTest::addColumn<QString>("said");  // empty: nothing to say
        const int web = CListArea::kCommandOpenInBrowser;
        const int play = CListArea::kCommandPlay;
        const int folder = CListArea::kCommandOpenFolder;
        const QString noBrowser =
            QStringLiteral("ブラウザが見つかりませんでした。\n\nURL: http://h/a.wmv");
        const QString noPlayer =
            QStringLiteral("見つかりませんでした。\n\nファイル: %1");  // %1: the file
        QTest::newRow("no opener") << web << false << "-" << false << noBrowser;
        QTest::newRow("no program for the web") << web << true << "" << false << noBrowser;
        QTest::newRow("a browser to fall back on") << web << true << "" << true << QString();
        QTest::newRow("registered browser") << web << true << "b.desktop" << false << QString();
        QTest::newRow("desktop not asked") << web << true << "-" << false << QString();
        QTest::newRow("no player") << play << true << "" << true << noPlayer;
        QTest::newRow("no opener for files") << play << false << "-" << false << noPlayer;
        QTest::newRow("registered player") << play << true << "p.desktop" << false << QString();
        QTest::newRow("no file manager")
            << folder << true << "" << true
            << QStringLiteral(
                   "保存先フォルダを開くプログラムが見つかりませんでした。\n\nファイル: %1");
        QTest::newRow("registered file manager")
            << folder << true << "f.desktop" << false << QString();
    }
    void noBrowserOrPlayerIsSaid() {
        QFETCH(int, command);
        QFETCH(bool, opens);
        QFETCH(QString, handler);
        QFETCH(bool, fallbackBrowser);
        QFETCH(QString, said);
        QTemporaryDir dir;  // play is offered only for a file that exists
        const QString file = dir.filePath(QStringLiteral("e.wmv"));
        QFile(file).open(QIODevice::WriteOnly);
        said = said.arg(file);
        ExternalOpener::Probe probe;
        QStringList kinds;
        QList<QUrl> opened;
        probe.open = [&opened, opens](const QUrl& url) {
            opened << url;
            return opens;
        };
        probe.defaultHandler = [&](const QString& kind) -> std::optional<QString> {
            kinds << kind;
            return handler == QLatin1String("-") ? std::nullopt : std::optional(handler);
        };
        probe.fallbackBrowser = [fallbackBrowser] { return fallbackBrowser; };
        area_->Opener().setProbe(probe);
        addAndFlush({makeStream("http", "http://h", "/a.wmv")});
        recordAt(0)->state = kStateEnded;
        std::strcpy(recordAt(0)->localFile, file.toUtf8().constData());
        clickRow(0);
        QString shown;
        QTimer::singleShot(0, [&shown] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                shown = box->text();
                box->accept();
            }
        });
        area_->OnCommand(command);
        QCoreApplication::processEvents();
        QVERIFY2(said.isEmpty() ? shown.isEmpty() : shown.endsWith(said), qPrintable(shown));
        if (opens) {
            const char* kind = command == CListArea::kCommandPlay         ? "video/x-ms-wmv"
                               : command == CListArea::kCommandOpenFolder ? "inode/directory"
                                                                          : "x-scheme-handler/http";
            QCOMPARE(kinds, QStringList{QString::fromLatin1(kind)});
        }
        if (command == CListArea::kCommandOpenFolder) {
            QCOMPARE(opened, QList<QUrl>{QUrl::fromLocalFile(dir.path())});
        }
    }
};

QTEST_MAIN(CListAreaTest)
#include "CListAreaTest.moc"

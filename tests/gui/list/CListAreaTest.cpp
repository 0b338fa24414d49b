#include "core/detect/DetectedStream.h"
#include "core/session/MonitorSession.h"
#include "gui/app/UiBridge.h"
#include "gui/list/CListArea.h"
#include "gui/list/CListViewEx.h"
#include "gui/list/CStreamListModel.h"

#include <QAbstractItemModelTester>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QFileDialog>
#include <QHeaderView>
#include <QMenu>
#include <QMessageBox>
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
            session_->AddOrUpdateStream(&record, 0);
        }
        area_->flushPending();
    }
    QPoint rowCenter(int row) const {
        return area_->listCtrl()->visualRect(area_->model()->index(row, 1)).center();
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
    DetectedStream* recordAt(int row) const {
        return const_cast<DetectedStream*>(session_->record(row));
    }

  private slots:
    void init() {
        bridge_ = std::make_unique<UiBridge>();
        session_ = std::make_unique<MonitorSession>(bridge_->callbacks());
        area_ = std::make_unique<CListArea>(*session_, *bridge_);
        tester_ = std::make_unique<QAbstractItemModelTester>(
            area_->model(), QAbstractItemModelTester::FailureReportingMode::QtTest);
        area_->resize(800, 300);
        area_->show();
        QVERIFY(QTest::qWaitForWindowExposed(area_.get()));
        QDesktopServices::setUrlHandler(QStringLiteral("http"), &catcher_, "open");
        QDesktopServices::setUrlHandler(QStringLiteral("file"), &catcher_, "open");
        catcher_.urls.clear();
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
        const char* headers[] = {"Host", "ＵＲＬ", "サイズ", "進行状況", "時間", "転送速度"};
        const int widths[] = {150, 150, 60, 50, 80, 60};
        QCOMPARE(area_->model()->columnCount(), 6);
        for (int column = 0; column < 6; ++column) {
            QCOMPARE(area_->model()->headerData(column, Qt::Horizontal).toString(),
                     QString::fromUtf8(headers[column]));
            QCOMPARE(area_->listCtrl()->header()->sectionSize(column), widths[column]);
        }
        QVERIFY(area_->listCtrl()->fullRowSelect());
        QCOMPARE(area_->listCtrl()->selectionMode(), QAbstractItemView::SingleSelection);
    }

    void newRowsShowHostAndPathOnly() {
        DetectedStream record = makeStream("http", "http://h", "/a.wmv");
        std::strcpy(record.sizeText, "9 KB");  // a detection carries no status to show
        addAndFlush({record});
        QCOMPARE(area_->itemCount(), 1);
        QCOMPARE(area_->model()->index(0, 0).data().toString(), QStringLiteral("http://h"));
        QCOMPARE(area_->model()->index(0, 1).data().toString(), QStringLiteral("/a.wmv"));
        for (int column = 2; column < 6; ++column) {
            QVERIFY(area_->model()->index(0, column).data().toString().isEmpty());
        }
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
                    session_->AddOrUpdateStream(&record, 0);
                }
            });
        }
        for (auto& thread : threads) {
            thread.join();
        }
        QTRY_COMPARE(area_->model()->rowCount(), kShared + kThreads * kOwn);
        QSet<QString> urls;
        for (int row = 0; row < area_->model()->rowCount(); ++row) {
            urls.insert(area_->model()->index(row, 1).data().toString());
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
                std::snprintf(second->progressText, sizeof second->progressText, "%d%%", percent);
                std::strcpy(second->sizeText, "10 KB");
                session_->AddOrUpdateStream(second, 1);
            }
        });
        worker.join();
        QTRY_COMPARE(area_->model()->index(1, 3).data().toString(), QStringLiteral("100%"));
        QCOMPARE(area_->model()->index(1, 2).data().toString(), QStringLiteral("10 KB"));
        QVERIFY(area_->model()->index(0, 3).data().toString().isEmpty());

        // A refresh through another record of the same stream shows the list's own texts.
        DetectedStream other = makeStream("http", "http://h", "/b.wmv");
        std::strcpy(other.progressText, "ignored");
        session_->AddOrUpdateStream(&other, 1);
        area_->flushPending();
        QCOMPARE(area_->model()->index(1, 3).data().toString(), QStringLiteral("100%"));
        QCOMPARE(area_->itemCount(), 2);
    }

    void resetEmptiesTheList() {
        addAndFlush({makeStream("http", "http://h", "/a.wmv")});
        clickRow(0);
        QVERIFY(area_->hasCurrentStream());
        area_->OnInitialUpdate();
        QCOMPARE(area_->model()->rowCount(), 0);
        QCOMPARE(area_->itemCount(), 0);
        QVERIFY(!area_->hasCurrentStream());
        addAndFlush({makeStream("http", "http://h", "/a.wmv")});
        QCOMPARE(area_->itemCount(), 1);
    }

    void currentStreamFollowsClicksOnly() {
        addAndFlush({makeStream("http", "http://h", "/a.wmv"),
                     makeStream("http", "http://h", "/b.wmv"),
                     makeStream("http", "http://h", "/c.wmv")});
        QVERIFY(!area_->hasCurrentStream());
        clickRow(1);
        QCOMPARE(area_->currentStream(), recordAt(1));

        QTest::keyClick(area_->listCtrl(), Qt::Key_Down);
        QCOMPARE(area_->listCtrl()->currentIndex().row(), 2);
        QCOMPARE(area_->currentStream(), recordAt(1));

        const QPoint below(rowCenter(2).x(), rowCenter(2).y() + 100);
        QTest::mouseClick(area_->listCtrl()->viewport(), Qt::LeftButton, {}, below);
        QCOMPARE(area_->currentStream(), recordAt(1));

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

        QContextMenuEvent menuKey(QContextMenuEvent::Keyboard, rowCenter(2),
                                  area_->listCtrl()->viewport()->mapToGlobal(rowCenter(2)));
        QApplication::sendEvent(area_->listCtrl()->viewport(), &menuKey);
        QCOMPARE(area_->currentStream(), recordAt(0));
    }

    void contextMenuStates_data() {
        QTest::addColumn<QString>("scheme");
        QTest::addColumn<int>("state");
        QTest::addColumn<bool>("save");
        QTest::addColumn<bool>("abort");
        QTest::addColumn<bool>("play");
        QTest::newRow("idle") << "http" << 0 << true << false << false;
        QTest::newRow("downloading") << "http" << 1 << false << true << false;
        QTest::newRow("ended") << "mms" << 2 << true << false << true;
        QTest::newRow("rtsp idle") << "rtsp" << 0 << true << false << false;
        QTest::newRow("rtsp recording") << "rtsp" << 1 << false << true << false;
        QTest::newRow("rtsp ended") << "rtsp" << 2 << true << false << true;
    }
    void contextMenuStates() {
        QFETCH(QString, scheme);
        QFETCH(int, state);
        DetectedStream record = makeStream(scheme.toLatin1().constData(), "x://h", "/a.wmv");
        addAndFlush({record});
        clickRow(0);
        recordAt(0)->state = state;

        const QList<QAction*> actions = area_->contextMenu()->actions();
        QStringList texts;
        for (QAction* action : actions) {
            texts << (action->isSeparator() ? QStringLiteral("-") : action->text());
        }
        QCOMPARE(
            texts,
            (QStringList{QStringLiteral("名前を付けて保存（ダウンロード）"), QStringLiteral("中止"),
                         QStringLiteral("-"), QStringLiteral("ブラウザで直接開く"),
                         QStringLiteral("ダウンロードしたファイルを再生"), QStringLiteral("-"),
                         QStringLiteral("URLをコピー               Ctrl+C"),
                         QStringLiteral("curl コマンドとしてコピー"),
                         QStringLiteral("ffmpeg コマンドとしてコピー"),
                         QStringLiteral("yt-dlp コマンドとしてコピー"), QStringLiteral("-"),
                         QStringLiteral("キャンセル")}));
        QFETCH(bool, save);
        QFETCH(bool, abort);
        QFETCH(bool, play);
        QCOMPARE(actions[0]->isEnabled(), save);
        QCOMPARE(actions[1]->isEnabled(), abort);
        QVERIFY(actions[3]->isEnabled());
        QCOMPARE(actions[4]->isEnabled(), play);
        QVERIFY(actions[6]->isEnabled());
        QVERIFY(actions[7]->isEnabled());
        QVERIFY(actions[8]->isEnabled());
        QVERIFY(actions[9]->isEnabled());
        QVERIFY(actions[11]->isEnabled());
    }

    // The row as a command, quoted for a POSIX shell; its cookie only with cookie reuse on.
    void copyAsCommandQuotesEveryField() {
        DetectedStream record = makeStream("http", "http://h", "/a'$(x).wmv");
        std::strcpy(record.referer, "http://page/'`y`'");
        std::strcpy(record.userAgent, "Player \"1\"");
        std::strcpy(record.cookie, "sid=1");
        addAndFlush({record});
        clickRow(0);
        QVERIFY(area_->OnCommand(CListArea::kCommandCopyAsCurl));
        QCOMPARE(QGuiApplication::clipboard()->text(),
                 QStringLiteral("'curl' '--location' '--referer' 'http://page/'\\''`y`'\\''' "
                                "'--user-agent' 'Player \"1\"' '--remote-name' '--url' "
                                "'http://h/a'\\''$(x).wmv'"));
        session_->setCookieReuse(true);
        QVERIFY(area_->OnCommand(CListArea::kCommandCopyAsYtDlp));
        QCOMPARE(QGuiApplication::clipboard()->text(),
                 QStringLiteral("'yt-dlp' '--referer' 'http://page/'\\''`y`'\\''' "
                                "'--user-agent' 'Player \"1\"' '--add-header' 'Cookie:sid=1' "
                                "'--' 'http://h/a'\\''$(x).wmv'"));
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
        std::strcpy(recordAt(2)->localFile, "/tmp/quorvex-test/e.wmv");
        doubleClickRow(2);
        QCOMPARE(catcher_.urls, QList<QUrl>{QUrl::fromLocalFile("/tmp/quorvex-test/e.wmv")});

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
};

QTEST_MAIN(CListAreaTest)
#include "CListAreaTest.moc"

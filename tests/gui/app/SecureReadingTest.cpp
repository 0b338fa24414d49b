#include <openssl/ssl.h>

#include <QAction>
#include <QLabel>
#include <QMessageBox>
#include <QSettings>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QtTest>
#include <fstream>
#include <utility>

#include "core/session/MonitorSession.h"
#include "core/tls/TlsSession.h"
#include "gui/app/CMainFrame.h"
#include "gui/app/CQuorvexApp.h"
#include "gui/app/CommandIds.h"
#include "gui/app/DesktopServices.h"
#include "gui/app/FrameFakes.h"
#include "gui/app/FrameViewAdapter.h"
#include "gui/app/TlsPortsSetting.h"
#include "support/PcapFileWriter.h"
#include "support/TranscriptDatagrams.h"
#include "support/WhenModal.h"

namespace {

using NameCounts = QList<QPair<QByteArray, int>>;

// One HTTPS request for a media file (TLS 1.3, HTTP/1.1) captured as raw IPv4 datagrams, and
// the client's key log beside it.
bool writeHttpsCapture(const QString& capture, const QString& keyLog) {
    TlsSessionOptions options{.version = TLS1_3_VERSION,
                              .cipher = "TLS_AES_128_GCM_SHA256",
                              .alpn = "http/1.1",
                              .serverName = "media.test",
                              .request = "GET /v/clip.wmv HTTP/1.1\r\nHost: media.test\r\n\r\n",
                              .response = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok"};
    TlsTranscript transcript;
    runTlsSession(options, transcript);
    std::ofstream(keyLog.toStdString()) << transcript.keyLog;
    PcapFileWriter writer(capture.toStdString(), 101);
    for (const std::vector<std::uint8_t>& datagram : TranscriptDatagrams(transcript)) {
        writer.add(datagram);
    }
    return transcript.completed && writer.ok();
}

}  // namespace

class SecureReadingTest : public QObject {
    Q_OBJECT

  public:
    explicit SecureReadingTest(CQuorvexApp& app) : app_(app) {}

  private slots:
    void init() {
        log_ = CaptureLog{};
        errors_.clear();
        QSettings().clear();
        for (const char* folder : {"bin", "run"}) {
            QDir(file(folder)).removeRecursively();
            QVERIFY(
                QDir().mkdir(file(folder), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        }
        QVERIFY(app_.InitInstance(makeServices()));
    }

    void settingsAreCheckedKeptAndGivenToEachStart_data() {
        QTest::addColumn<int>("command");
        QTest::addColumn<QString>("answer");
        QTest::addColumn<QString>("kept");  // the setting afterwards; empty: refused
        const std::tuple<const char*, int, const char*, const char*> rows[] = {
            {"TLS ports", ID_TLS_PORTS, " 8443, 443 9443 8443", "8443 9443"},
            {"a word that is no port", ID_TLS_PORTS, "8443 https", ""},
            {"17 TLS ports", ID_TLS_PORTS, "1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17", ""},
            {"key log file", ID_KEY_LOG_FILE, " /run/k/../keys.log ", "/run/keys.log"},
            {"a relative key log file", ID_KEY_LOG_FILE, "keys.log", ""},
        };
        for (const auto& [name, command, answer, kept] : rows) {
            QTest::newRow(name) << command << QString(answer) << QString(kept);
        }
    }

    void settingsAreCheckedKeptAndGivenToEachStart() {
        QFETCH(int, command);
        QFETCH(QString, answer);
        QFETCH(QString, kept);
        answer_ = answer;
        act(command)->trigger();
        QCOMPARE(errors_.size(), kept.isEmpty() ? 1 : 0);
        const bool ports = command == ID_TLS_PORTS;
        QCOMPARE(QSettings().value(ports ? "Settings/tlsPorts" : "Settings/keyLogFile").toString(),
                 kept);
        act(ID_MONITOR_START)->trigger();
        QVERIFY(frame()->IsMonitoring());
        QCOMPARE(TlsPortsSetting::ToText(session().tlsPorts()), ports ? kept : QString());
        QCOMPARE(QString::fromStdString(session().keyLogPath()), ports ? QString() : kept);
    }

    void unreadConnectionsAreNotedAsPlainText_data() {
        QTest::addColumn<NameCounts>("names");
        QTest::addColumn<int>("count");
        QTest::addColumn<QString>("listed");  // the tool tip's lines after its first
        QTest::newRow("none") << NameCounts{} << 0 << QString();
        QTest::newRow("one") << NameCounts{{"media.test", 1}} << 1 << "media.test (1)";
        QTest::newRow("most frequent first") << NameCounts{{"a.test", 1}, {"b.test", 3}, {"", 2}}
                                             << 6 << "b.test (3)\n(名前なし) (2)\na.test (1)";
        QTest::newRow("markup and control bytes")
            << NameCounts{{"<b>x</b>\n\x1b[2J\xe2\x80\xae", 1}} << 1
            << "<b>x</b>%0A%1B[2J%E2%80%AE (1)";
    }

    void unreadConnectionsAreNotedAsPlainText() {
        QFETCH(NameCounts, names);
        QFETCH(int, count);
        QFETCH(QString, listed);
        SecureTrafficReader::Summary summary;
        for (const auto& [name, connections] : names) {
            summary.withoutKeys[name.toStdString()] = static_cast<std::uint64_t>(connections);
        }
        frame()->ShowSecureSummary(summary);
        QCOMPARE(unreadNote()->isHidden(), count == 0);
        QCOMPARE(unreadNote()->text(),
                 count == 0
                     ? QString()
                     : QStringLiteral("暗号化された接続 %1 件は鍵がないため読めません").arg(count));
        QCOMPARE(
            unreadNote()->toolTip(),
            count == 0 ? QString() : QStringLiteral("鍵がなかった接続のサーバー名:\n") + listed);
        QCOMPARE(unreadNote()->textFormat(), Qt::PlainText);
        QVERIFY(!Qt::mightBeRichText(unreadNote()->toolTip()));
    }

    void theBrowserWritesToAPrivateKeyLogThatTheSessionFollows() {
        QCOMPARE(act(ID_KEY_LOG_BROWSER)->text(), QStringLiteral("鍵ログ付きでブラウザを起動"));
        installBrowser("#!/bin/sh\nprintf '%s' \"$SSLKEYLOGFILE\" > \"$RECORD\"\n");
        act(ID_MONITOR_START)->trigger();
        act(ID_KEY_LOG_BROWSER)->trigger();
        QTRY_VERIFY(QFileInfo(file("record")).size() > 0);
        QFile record(file("record"));
        QVERIFY(record.open(QIODevice::ReadOnly));
        const std::string keyLog = record.readAll().toStdString();
        QVERIFY(keyLog.starts_with(file("run/").toStdString()));
        // The capture started again to follow it.
        QCOMPARE(session().keyLogPath(), keyLog);
        QCOMPARE(log_.created, 2);
        QVERIFY(frame()->IsMonitoring() && errors_.isEmpty());
        frame()->ShutdownWork();
        QVERIFY(QDir(file("run")).isEmpty());
    }

    void aBrowserThatCannotStartIsExplained_data() {
        QTest::addColumn<QByteArray>("script");  // empty: none installed
        QTest::addColumn<QString>("said");
        QTest::newRow("none installed") << QByteArray() << "ブラウザが見つかりません";
        QTest::newRow("cannot start")
            << QByteArray("#!/nonexistent/interpreter\n") << "起動できませんでした。\n詳細: ";
    }

    void aBrowserThatCannotStartIsExplained() {
        QFETCH(QByteArray, script);
        QFETCH(QString, said);
        if (!script.isEmpty()) {
            installBrowser(script);
        }
        FrameServices services = makeServices();
        services.showError = DesktopServices::Make().showError;  // the program's message box
        QVERIFY(app_.InitInstance(std::move(services)));
        frame()->show();
        QString shown;
        whenModal<QMessageBox>([&](QMessageBox* box) {
            shown = box->text();
            box->accept();
            return true;
        });
        act(ID_KEY_LOG_BROWSER)->trigger();
        QVERIFY2(shown.contains(said), qPrintable(shown));
        QVERIFY(frame()->KeyLogPath().empty());
        QVERIFY(QDir(file("run")).isEmpty());
    }

    void httpsInACaptureIsReadWithTheKeyLog_data() {
        QTest::addColumn<QString>("keyLog");  // the setting's file; empty: none
        QTest::addColumn<QString>("url");     // the row found; empty: none
        QTest::addColumn<QString>("notice");
        const std::tuple<const char*, const char*, const char*, const char*> rows[] = {
            {"with its key log", "keys.log", "https://media.test/v/clip.wmv", ""},
            {"without a key log", "", "", ""},
            {"with a missing key log", "missing.log", "", "missing.log を読めません"},
        };
        for (const auto& [name, keyLog, url, notice] : rows) {
            QTest::newRow(name) << QString(keyLog) << QString(url) << QString(notice);
        }
    }

    void httpsInACaptureIsReadWithTheKeyLog() {
        QFETCH(QString, keyLog);
        QFETCH(QString, url);
        QFETCH(QString, notice);
        QVERIFY(writeHttpsCapture(file("https.pcap"), file("keys.log")));
        if (!keyLog.isEmpty()) {
            QSettings().setValue("Settings/keyLogFile", file(keyLog));
        }
        // The session reads encrypted connections on one thread at a time: monitoring stops.
        act(ID_MONITOR_START)->trigger();
        QVERIFY(app_.OpenDocumentFile(file("https.pcap")));
        QVERIFY(!frame()->IsMonitoring());
        QCOMPARE(session().rowCount(), url.isEmpty() ? 0 : 1);
        QCOMPARE(QString::fromStdString(session().url(0)), url);
        QCOMPARE(unreadNote()->isHidden(), !url.isEmpty());
        QCOMPARE(unreadNote()->toolTip().endsWith("\nmedia.test (1)"), url.isEmpty());
        QCOMPARE(errors_.size(), notice.isEmpty() ? 0 : 1);
        QVERIFY(notice.isEmpty() || errors_[0].contains(notice));
    }

  private:
    FrameServices makeServices() {
        FrameServices services;
        services.createView = [](MonitorSession&, UiBridge&) {
            return std::make_unique<FrameViewAdapter<FakeView>>(new FakeView);
        };
        services.adapterSource = std::make_unique<FakeAdapterSource>(adapters_);
        services.captureFactory = std::make_unique<FakeCaptureFactory>(log_);
        // The answer once; a refused one is asked again, and then cancelled.
        services.askTlsPorts = services.askKeyLogFile = [this](QWidget*, const QString&) {
            return std::exchange(answer_, std::nullopt);
        };
        services.showError = [this](QWidget*, const QString& text) { errors_.append(text); };
        services.browserEnvironment = [this] {
            return std::vector<std::string>{"PATH=" + file("bin").toStdString(),
                                            "XDG_RUNTIME_DIR=" + file("run").toStdString(),
                                            "RECORD=" + file("record").toStdString()};
        };
        return services;
    }
    CMainFrame* frame() const { return app_.MainFrame(); }
    MonitorSession& session() const { return *frame()->Session(); }
    QAction* act(int id) const { return frame()->Action(id); }
    QString file(const QString& name) const { return dir_.path() + '/' + name; }
    QLabel* unreadNote() const {
        return frame()->statusBar()->findChild<QLabel*>(QStringLiteral("unreadConnections"));
    }
    void installBrowser(const QByteArray& script) {
        QFile browser(file("bin/chromium"));
        QVERIFY(browser.open(QIODevice::WriteOnly) && browser.write(script) == script.size());
        browser.setPermissions(QFile::ReadOwner | QFile::ExeOwner);
    }

    CQuorvexApp& app_;
    QTemporaryDir dir_;
    CaptureLog log_;
    int adapters_ = 1;
    std::optional<QString> answer_;
    QStringList errors_;
};

int main(int argc, char** argv) {
    CQuorvexApp app(argc, argv);
    SecureReadingTest test(app);
    return QTest::qExec(&test, argc, argv);
}

#include "SecureReadingTest.moc"

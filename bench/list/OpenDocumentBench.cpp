// Opens a capture file (or a saved list) as the desktop program's document, into the shown
// stream list, and reports how long the read took, how many rows it gave and the longest
// stall of the event loop meanwhile (a 1 ms timer that fires late by more than its period is
// a stall). Make a big capture first with make_capture (e.g. `make_capture mix FILE 800000`
// gives about 1 GB).
//
// With a second name, the list is then saved there (on the user-interface thread, as the
// Save command does) and the time it took is reported.
//
//   open_document_bench FILE [SAVE_AS]   (runs on the offscreen platform unless one is chosen)

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>
#include <cstdio>

#include "core/detect/SuffixTable.h"
#include "core/session/MonitorSession.h"
#include "gui/app/CQuorvexDoc.h"
#include "gui/app/UiBridge.h"
#include "gui/list/CListArea.h"
#include "gui/list/CStreamListModel.h"

namespace {

// Nanoseconds as milliseconds.
double millis(long long nanoseconds) {
    return static_cast<double>(nanoseconds) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: open_document_bench FILE [SAVE_AS]\n");
        return 2;
    }
    UiBridge bridge;
    MonitorSession session(bridge.callbacks());
    session.setSuffixTable(SuffixTable::withKnownSuffixes());
    CListArea area(session, bridge);
    area.resize(1000, 700);
    area.show();
    app.processEvents();
    CQuorvexDoc document;
    document.SetSession(&session);

    QElapsedTimer gapClock;
    qint64 last = 0;
    qint64 longest = 0;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    ticker.setInterval(1);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const qint64 now = gapClock.nsecsElapsed();
        longest = std::max(longest, now - last);
        last = now;
    });
    QElapsedTimer clock;
    clock.start();
    gapClock.start();
    ticker.start();
    QString error;
    QString notice;
    const bool opened =
        document.OnOpenDocument(QString::fromLocal8Bit(argv[1]), &area, &error, &notice);
    const double readMs = millis(clock.nsecsElapsed());
    // Until every row is in the view.
    while (area.Model()->rowCount() < session.rowCount()) {
        app.processEvents(QEventLoop::AllEvents, 5);
    }
    const double shownMs = millis(clock.nsecsElapsed());
    ticker.stop();
    if (!opened) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    std::printf(
        "read in %.1f ms, all %d rows in the view after %.1f ms, longest event-loop gap "
        "%.1f ms\n",
        readMs, session.rowCount(), shownMs, millis(longest));
    if (argc > 2) {
        QElapsedTimer saveClock;
        saveClock.start();
        if (!document.OnSaveDocument(QString::fromLocal8Bit(argv[2]), &error)) {
            std::fprintf(stderr, "%s\n", qPrintable(error));
            return 1;
        }
        std::printf("saved %d rows in %.1f ms\n", session.rowCount(),
                    millis(saveClock.nsecsElapsed()));
    }
    return 0;
}

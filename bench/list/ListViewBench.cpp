// Feeds 100,000 distinct detections into the shown stream list from a capture-like thread
// and reports how long until every row is in the view and the longest stall of the event
// loop meanwhile (a 1 ms timer that fires late by more than its period is a stall); then the
// same with a sort and a filter active, the stall while a new sort or filter is applied, and
// the memory the list costs per row beyond the store's own (resident size, /proc/self/statm).
//
//   list_view_bench [rows]      (runs on the offscreen platform unless one is chosen)

#include "core/detect/DetectedStream.h"
#include "core/session/MonitorSession.h"
#include "gui/app/UiBridge.h"
#include "gui/list/CListArea.h"
#include "gui/list/CListViewEx.h"
#include "gui/list/CStreamListModel.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <QHeaderView>
#include <QSettings>
#include <QStandardPaths>

#include <time.h>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <thread>
#include <vector>

namespace {

// Nanoseconds as milliseconds.
double millis(long long nanoseconds) {
    return static_cast<double>(nanoseconds) / 1e6;
}
DetectedStream detection(int i) {
    DetectedStream record{};
    std::strcpy(record.scheme, "http");
    std::snprintf(record.host, sizeof record.host, "http://media%d.example", i % 97);
    std::snprintf(record.path, sizeof record.path, "/videos/%d/clip-%d.wmv?session=%d", i % 1000, i,
                  i * 7);
    std::strcpy(record.suffix, ".wmv");
    std::strcpy(record.typeName, "Windows Media");
    return record;
}

// The longest gap between two ticks of the event loop, in wall time and in CPU time of the
// user-interface thread: on a loaded machine the wall gap also holds the time other processes
// had the CPU, the CPU gap only the work the loop did in one go.
struct StallMeter {
    QElapsedTimer clock;
    qint64 last = 0;
    qint64 longest = 0;
    qint64 lastCpu = -1;
    qint64 longestCpu = 0;
    static qint64 threadCpuNs() {
        timespec now{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
        return qint64{now.tv_sec} * 1000000000 + now.tv_nsec;
    }
    void tick() {
        const qint64 now = clock.nsecsElapsed();
        longest = std::max(longest, now - last);
        last = now;
        const qint64 cpu = threadCpuNs();
        if (lastCpu >= 0) {
            longestCpu = std::max(longestCpu, cpu - lastCpu);
        }
        lastCpu = cpu;
    }
};

struct Phase {
    double feedMs;
    double allShownMs;
    double longestGapMs;
    double longestCpuGapMs = 0;
};

double residentMb() {
    std::ifstream statm("/proc/self/statm");
    long pages = 0;
    long resident = 0;
    statm >> pages >> resident;
    return static_cast<double>(resident) * 4096.0 / 1048576.0;
}

// Runs the event loop until the list has taken every row and applied its sort and filter;
// returns the time taken and the longest gap.
Phase settle(QApplication& app, CListArea& area, int storeRows) {
    StallMeter meter;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    ticker.setInterval(1);
    QObject::connect(&ticker, &QTimer::timeout, [&meter] { meter.tick(); });
    QElapsedTimer clock;
    clock.start();
    meter.clock.start();
    ticker.start();
    while (area.Model()->takenRows() < storeRows || area.Model()->rebuilding()) {
        app.processEvents(QEventLoop::AllEvents, 5);
    }
    const double doneMs = millis(clock.nsecsElapsed());
    app.processEvents(QEventLoop::AllEvents, 20);
    ticker.stop();
    return {0, doneMs, millis(meter.longest), millis(meter.longestCpu)};
}

Phase run(QApplication& app, CListArea& area, int rows, int repeatOffset) {
    StallMeter meter;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    ticker.setInterval(1);
    QObject::connect(&ticker, &QTimer::timeout, [&meter] { meter.tick(); });

    const int target = area.Model()->takenRows() + (repeatOffset < 0 ? rows : 0);
    std::atomic<qint64> feedNs{0};
    QElapsedTimer clock;
    meter.clock.start();
    clock.start();
    ticker.start();
    std::thread feeder([&] {
        for (int i = 0; i < rows; ++i) {
            const DetectedStream record = detection(i + std::max(0, repeatOffset));
            area.Session().addStream(record);
        }
        feedNs = clock.nsecsElapsed();
    });
    qint64 shownNs = -1;
    while (shownNs < 0 || feedNs.load() == 0) {
        app.processEvents(QEventLoop::AllEvents, 5);
        if (shownNs < 0 && area.Model()->takenRows() >= target && !area.Model()->rebuilding() &&
            feedNs.load() != 0) {
            shownNs = clock.nsecsElapsed();
        }
    }
    feeder.join();
    // A little longer, so that a late flush would still show up as a stall.
    QElapsedTimer settle;
    settle.start();
    while (settle.elapsed() < 200) {
        app.processEvents(QEventLoop::AllEvents, 5);
    }
    ticker.stop();
    return {millis(feedNs), millis(shownNs), millis(meter.longest), millis(meter.longestCpu)};
}
}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    // The list keeps its header in the settings: every run starts from the default one.
    QStandardPaths::setTestModeEnabled(true);
    QSettings().remove(QStringLiteral("List"));
    const int rows = argc > 1 ? std::max(1, std::atoi(argv[1])) : 100000;

    UiBridge bridge;
    MonitorSession session(bridge.callbacks());
    CListArea area(session, bridge);
    area.resize(1000, 700);
    area.show();
    app.processEvents();

    const Phase added = run(app, area, rows, -1);
    std::printf(
        "%d new detections: fed in %.1f ms, all rows in the view after %.1f ms, "
        "longest event-loop gap %.1f ms (UI thread busy %.1f ms)\n",
        rows, added.feedMs, added.allShownMs, added.longestGapMs, added.longestCpuGapMs);
    const Phase repeated = run(app, area, rows, 0);
    std::printf(
        "%d repeats:        fed in %.1f ms, longest event-loop gap %.1f ms (busy %.1f ms, "
        "rows: %d)\n",
        rows, repeated.feedMs, repeated.longestGapMs, repeated.longestCpuGapMs,
        area.Model()->rowCount());

    // A sort and a filter on the full list: applied in slices.
    area.listCtrl()->sortByColumn(CStreamListModel::kUrl, Qt::DescendingOrder);
    const Phase sorted = settle(app, area, area.Session().rowCount());
    std::printf(
        "sort by URL of %d rows: done after %.1f ms, longest event-loop gap %.1f ms (busy %.1f "
        "ms)\n",
        area.Model()->rowCount(), sorted.allShownMs, sorted.longestGapMs, sorted.longestCpuGapMs);
    area.SetFilterText(QStringLiteral("CLIP-1"));
    const Phase filtered = settle(app, area, area.Session().rowCount());
    std::printf(
        "filter \"CLIP-1\" over %d rows (%d shown): done after %.1f ms, longest event-loop "
        "gap %.1f ms (busy %.1f ms)\n",
        area.Session().rowCount(), area.Model()->rowCount(), filtered.allShownMs,
        filtered.longestGapMs, filtered.longestCpuGapMs);
    area.SetFilterText(QStringLiteral("clip"));
    settle(app, area, area.Session().rowCount());
    const Phase more = run(app, area, rows, rows);
    const Phase moreShown = settle(app, area, area.Session().rowCount());
    std::printf(
        "%d more new detections, sorted and filtered: fed in %.1f ms, longest event-loop gap "
        "%.1f ms (busy %.1f ms, rows: %d)\n",
        rows, more.feedMs, std::max(more.longestGapMs, moreShown.longestGapMs),
        std::max(more.longestCpuGapMs, moreShown.longestCpuGapMs), area.Model()->rowCount());

    // Four downloads reporting progress as fast as they can: refreshes are coalesced.
    {
        StallMeter meter;
        QTimer ticker;
        ticker.setTimerType(Qt::PreciseTimer);
        ticker.setInterval(1);
        QObject::connect(&ticker, &QTimer::timeout, [&meter] { meter.tick(); });
        constexpr int kRefreshes = 200000;
        std::atomic<int> running{4};
        std::vector<std::thread> workers;
        meter.clock.start();
        ticker.start();
        QElapsedTimer clock;
        clock.start();
        for (int w = 0; w < 4; ++w) {
            workers.emplace_back([&area, &running, w] {
                // Plays a download worker, which shows its progress on the row.
                const DetectedStream* record = area.Session().record(w);
                TransferProgress progress;
                progress.stage = TransferProgress::Stage::kPercent;
                for (int i = 0; i < kRefreshes; ++i) {
                    progress.percent = i * 100 / kRefreshes;
                    area.Session().showTransfer(*record, progress);
                }
                --running;
            });
        }
        int flushes = 0;
        QObject::connect(&area, &CListArea::rowsFlushed, [&flushes] { ++flushes; });
        while (running.load() > 0) {
            app.processEvents(QEventLoop::AllEvents, 5);
        }
        const double refreshMs = millis(clock.nsecsElapsed());
        for (auto& worker : workers) {
            worker.join();
        }
        app.processEvents(QEventLoop::AllEvents, 50);
        ticker.stop();
        std::printf(
            "4 x %d refreshes: %.1f ms, %d batches reached the view, longest "
            "event-loop gap %.1f ms (busy %.1f ms)\n",
            kRefreshes, refreshMs, flushes, millis(meter.longest), millis(meter.longestCpu));
    }

    // Scroll to the end and back: painting of a full list.
    QElapsedTimer paint;
    paint.start();
    area.listCtrl()->scrollToBottom();
    area.listCtrl()->viewport()->repaint();
    area.listCtrl()->scrollToTop();
    area.listCtrl()->viewport()->repaint();
    std::printf("two full repaints of %d rows: %.1f ms\n", area.Model()->rowCount(),
                millis(paint.nsecsElapsed()));
    QElapsedTimer layout;
    layout.start();
    area.listCtrl()->doItemsLayout();
    std::printf("one layout of all rows: %.1f ms\n", millis(layout.nsecsElapsed()));
    area.Shutdown();
    // Twice the rows were fed; the list keeps those up to its bound.
    const bool allShown = area.Model()->rowCount() == std::min(2 * rows, area.Session().rowLimit());

    // Memory: the store alone, then a second list with its view, over the same rows.
    {
        const double before = residentMb();
        MonitorSession storeOnly(SessionCallbacks{});
        for (int i = 0; i < rows; ++i) {
            const DetectedStream record = detection(i);
            storeOnly.addStream(record);
        }
        const double store = residentMb() - before;
        UiBridge secondBridge;
        MonitorSession second(secondBridge.callbacks());
        const double beforeList = residentMb();
        CListArea list(second, secondBridge);
        list.resize(1000, 700);
        list.show();
        for (int i = 0; i < rows; ++i) {
            const DetectedStream record = detection(i);
            second.addStream(record);
        }
        list.listCtrl()->sortByColumn(CStreamListModel::kUrl, Qt::AscendingOrder);
        list.SetFilterText(QStringLiteral("clip"));
        settle(app, list, rows);
        const double withList = residentMb() - beforeList;
        std::printf(
            "memory: store %.1f MB (%.0f B/row); store and shown list, sorted and filtered "
            "%.1f MB; the list beyond the store %.0f B/row\n",
            store, store * 1048576.0 / rows, withList, (withList - store) * 1048576.0 / rows);
        list.Shutdown();
    }
    return allShown ? 0 : 1;
}

#pragma once

#include <QEventLoop>
#include <QProgressDialog>
#include <QString>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <optional>
#include <thread>
#include <utility>

// Runs `work` on a thread of its own while the window goes on painting, and returns its result.
// Input waits until the work is done; a busy note with `label` shows if it takes a moment, with
// a bar when `done` tells how far it came of `total`. For what may wait on the network or on the
// disk (a playlist asked whether it is live, a large list saved), which must not freeze the window.
template <typename Work>
auto RunAside(QWidget* parent, const QString& label, Work work,
              const std::function<int()>& done = {}, int total = 0) -> decltype(work()) {
    std::optional<decltype(work())> result;
    QEventLoop loop;
    QProgressDialog note(label, QString(), 0, done ? total : 0, parent);
    note.setWindowModality(Qt::ApplicationModal);
    note.setMinimumDuration(400);
    note.setAutoClose(false);
    note.setAutoReset(false);
    QTimer progress;
    if (done) {
        QObject::connect(&progress, &QTimer::timeout, &note, [&] { note.setValue(done()); });
        progress.start(100);
    }
    std::thread worker([&] {
        result.emplace(work());
        // Queued: if the work ends before the loop runs, the loop still hears it at once.
        QMetaObject::invokeMethod(
            &loop, [&loop] { loop.quit(); }, Qt::QueuedConnection);
    });
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    worker.join();
    return std::move(*result);
}

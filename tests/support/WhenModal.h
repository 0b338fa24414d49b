#pragma once

#include <QApplication>
#include <QObject>
#include <QTimer>

#include <functional>

// Calls `answer` with each modal widget of type T that shows up, until it returns true.
template <typename T>
void whenModal(std::function<bool(T*)> answer) {
    auto* timer = new QTimer;
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, [timer, answer] {
        if (auto* widget = qobject_cast<T*>(QApplication::activeModalWidget())) {
            if (answer(widget)) {
                timer->stop();
                timer->deleteLater();
            }
        }
    });
    timer->start();
}

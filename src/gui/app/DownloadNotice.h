#pragma once

#include <QString>

struct DownloadOutcome;

// The desktop notification of a download that ended while the user looked elsewhere.
class DownloadNotice {
  public:
    // One line on how it ended and what it concerns, then a failure's kind in words and its
    // message.
    static QString body(const DownloadOutcome& outcome, const QString& subject);
    // Shows it without waiting: the desktop's notification tool, else the tray; nothing
    // when the desktop has neither.
    static void send(const QString& title, const QString& body);
};

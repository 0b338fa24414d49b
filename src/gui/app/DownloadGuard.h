#pragma once

#include <functional>

class MonitorSession;
class QWidget;

// Before the list is emptied or replaced and before the program ends, running downloads are
// ended first, if the user agrees: each is aborted through the session (its partial file goes
// as with the abort command) and waited for.
class DownloadGuard {
  public:
    // Asks whether to abort `running` downloads and go on (true) or stay (false).
    using Ask = std::function<bool(QWidget* parent, int running)>;

    // True when no download runs, or the user chose to abort them and all have ended. With no
    // `ask`, they are aborted without asking.
    static bool EndDownloadsFirst(QWidget* parent, MonitorSession& session, const Ask& ask);

    // The question, in the user's words.
    static bool AskUser(QWidget* parent, int running);
};

#pragma once

#include <list>
#include <memory>
#include <string>
#include <vector>

class SessionDownload;

// The session's downloads in the order they wait: at most limit() run at once, the others
// wait for their turn (their rows say so) and start oldest first as places come free. A
// paused download holds no place; resumed, it waits again behind those already waiting.
// Used on the owner's thread only; the workers' news reach it when the owner calls reap().
class DownloadQueue {
  public:
    static constexpr int kDefaultLimit = 3;

    // Joins every worker; call close() first.
    ~DownloadQueue();

    // At least one; a larger limit starts waiting downloads at once.
    void setLimit(int limit);
    int limit() const { return limit_; }

    // Takes a download that waits (SessionDownload::wait) and starts what may start. False
    // when it was its turn and it could not start (it is gone then).
    bool add(std::unique_ptr<SessionDownload> download);
    // The row's download that has not ended; null when none.
    SessionDownload* find(int row) const;
    // Whether a download that has not ended writes to `target`.
    bool holdsTarget(const std::string& target) const;

    bool cancel(int row);
    bool pause(int row);
    bool canPause(int row) const;
    bool resume(int row);
    // Asks every download to stop, also those whose row went; returns how many were asked.
    int cancelAll();

    // Downloads whose worker still exists or that wait.
    int count() const { return static_cast<int>(downloads_.size()); }
    int running() const;
    // Forgets the downloads that have ended, ends the paused ones asked to stop or left
    // without a row, and starts waiting ones while places are free.
    void reap();

    // The list was emptied: running downloads go on without a row, a waiting one ends (it
    // would run unseen) and so does a paused one (nothing could resume it).
    void orphanAll();
    // Rows were taken out: `moved` gives every old row its new one (-1: gone).
    void moveRows(const std::vector<int>& moved);

    // The session closes: every download is asked to stop and nothing starts any more.
    void close();

  private:
    void startWaiting();

    std::list<std::unique_ptr<SessionDownload>> downloads_;  // in the order they wait
    int limit_ = kDefaultLimit;
    bool closed_ = false;
    bool starting_ = false;
};

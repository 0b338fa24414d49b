#include "core/session/DownloadQueue.h"

#include <algorithm>

#include "core/session/SessionDownload.h"

DownloadQueue::~DownloadQueue() = default;

void DownloadQueue::setLimit(int limit) {
    limit_ = std::max(1, limit);
    startWaiting();
}

bool DownloadQueue::add(std::unique_ptr<SessionDownload> download) {
    const SessionDownload* added = download.get();
    // Listed before its start: a quick download may end before start() returns.
    downloads_.push_back(std::move(download));
    startWaiting();
    return std::any_of(downloads_.begin(), downloads_.end(),
                       [added](const auto& listed) { return listed.get() == added; });
}

SessionDownload* DownloadQueue::find(int row) const {
    if (row < 0) {
        return nullptr;
    }
    for (const auto& download : downloads_) {
        if (download->row() == row && !download->ended()) {
            return download.get();
        }
    }
    return nullptr;
}

bool DownloadQueue::holdsTarget(const std::string& target) const {
    return std::any_of(downloads_.begin(), downloads_.end(), [&](const auto& download) {
        return !download->ended() && download->target() == target;
    });
}

bool DownloadQueue::cancel(int row) {
    SessionDownload* download = find(row);
    return download != nullptr && download->cancel();
}

bool DownloadQueue::pause(int row) {
    SessionDownload* download = find(row);
    return download != nullptr && download->pause();
}

bool DownloadQueue::canPause(int row) const {
    const SessionDownload* download = find(row);
    return download != nullptr && download->canPause();
}

bool DownloadQueue::resume(int row) {
    SessionDownload* download = find(row);
    if (download == nullptr || !download->resume()) {
        return false;
    }
    // Behind those that waited while it was paused.
    auto at = std::find_if(downloads_.begin(), downloads_.end(),
                           [download](const auto& listed) { return listed.get() == download; });
    downloads_.splice(downloads_.end(), downloads_, at);
    startWaiting();
    return true;
}

int DownloadQueue::cancelAll() {
    int asked = 0;
    for (auto& download : downloads_) {
        asked += download->cancel() ? 1 : 0;
    }
    return asked;
}

int DownloadQueue::running() const {
    return static_cast<int>(std::count_if(downloads_.begin(), downloads_.end(), [](const auto& d) {
        return d->phase() == SessionDownload::Phase::kRunning;
    }));
}

void DownloadQueue::reap() {
    // Each destructor joins a worker that has told its end and is about to return.
    std::erase_if(downloads_, [](const auto& download) { return download->ended(); });
    for (auto& download : downloads_) {
        // One that paused after its row went could never be resumed.
        if (download->row() < 0 && download->phase() == SessionDownload::Phase::kPaused) {
            download->cancel();
        } else {
            download->endIfCancelled();
        }
    }
    startWaiting();
}

// A start that fails tells the user, which may run the owner's event loop and so call reap()
// from within: that inner call starts nothing, and the places are counted afresh each turn.
void DownloadQueue::startWaiting() {
    if (closed_ || starting_) {
        return;
    }
    starting_ = true;
    for (auto it = downloads_.begin(); it != downloads_.end() && running() < limit_;) {
        SessionDownload& download = **it;
        if (download.phase() != SessionDownload::Phase::kWaiting) {
            ++it;
        } else if (download.start()) {
            ++it;
        } else {
            it = downloads_.erase(it);  // it could not start: the user has been told why
        }
    }
    starting_ = false;
}

void DownloadQueue::orphanAll() {
    for (auto& download : downloads_) {
        download->orphan();
        if (download->phase() != SessionDownload::Phase::kRunning) {
            download->cancel();
        }
    }
}

void DownloadQueue::moveRows(const std::vector<int>& moved) {
    for (auto& download : downloads_) {
        const int row = download->row();
        if (row < 0 || row >= static_cast<int>(moved.size())) {
            continue;
        }
        if (moved[static_cast<std::size_t>(row)] < 0) {
            download->orphan();  // an ended download whose row went
        } else {
            download->moveTo(moved[static_cast<std::size_t>(row)]);
        }
    }
}

void DownloadQueue::close() {
    closed_ = true;
    cancelAll();
    downloads_.clear();  // joins every worker, whose ends are told meanwhile
}

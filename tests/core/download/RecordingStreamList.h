#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "core/detect/DetectedStream.h"
#include "core/store/StreamList.h"

// Keeps every row refresh with the record's texts at that moment.
class RecordingStreamList : public StreamList {
  public:
    struct Refresh {
        const DetectedStream* record;
        int state;
        std::string size, progress, time, rate;
    };

    int AddOrUpdateStream(const DetectedStream* record, int update) override {
        std::lock_guard lock(mutex_);
        if (update == 1) {
            refreshes_.push_back({record, record->state, record->sizeText, record->progressText,
                                  record->timeText, record->rateText});
            refreshed_.notify_all();
        }
        return 0;
    }

    // Until `count` refreshes came; the limit only keeps a broken worker from hanging a test.
    bool waitRefreshes(std::size_t count) {
        std::unique_lock lock(mutex_);
        return refreshed_.wait_for(lock, std::chrono::seconds(10),
                                   [&] { return refreshes_.size() >= count; });
    }

    std::vector<Refresh> refreshes(const DetectedStream* of = nullptr) const {
        std::lock_guard lock(mutex_);
        std::vector<Refresh> result;
        for (const auto& refresh : refreshes_) {
            if (of == nullptr || refresh.record == of) {
                result.push_back(refresh);
            }
        }
        return result;
    }

  private:
    mutable std::mutex mutex_;
    std::condition_variable refreshed_;
    std::vector<Refresh> refreshes_;
};

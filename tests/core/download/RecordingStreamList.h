#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "core/detect/DetectedStream.h"
#include "core/download/common/TransferText.h"
#include "core/store/StreamList.h"

// Keeps every row refresh with the texts it shows.
class RecordingStreamList : public StreamList {
  public:
    struct Refresh {
        const DetectedStream* record;
        int state;
        std::string size, progress, time, rate;
        std::uint32_t mediaSeconds;
    };

    int addStream(const DetectedStream& /*record*/) override { return -1; }

    int showTransfer(const DetectedStream& record, const TransferProgress& progress) override {
        std::lock_guard lock(mutex_);
        auto texts = TransferText::of(progress);
        refreshes_.push_back({&record, LoadDownloadState(record), texts.size, texts.progress,
                              texts.time, texts.rate, progress.mediaSeconds});
        refreshed_.notify_all();
        return 0;
    }

    // The last refresh of `record`; empty texts when there was none.
    Refresh last(const DetectedStream* of) const {
        std::lock_guard lock(mutex_);
        for (auto it = refreshes_.rbegin(); it != refreshes_.rend(); ++it) {
            if (it->record == of) {
                return *it;
            }
        }
        return {of, 0, {}, {}, {}, {}, 0};
    }

    // Until `count` refreshes came; the limit only keeps a broken worker from hanging a test.
    bool waitRefreshes(std::size_t count) {
        std::unique_lock lock(mutex_);
        return refreshed_.wait_for(lock, std::chrono::seconds(10),
                                   [&] { return refreshes_.size() >= count; });
    }

    // Until a refresh of `of` satisfies `wanted`; the limit only keeps a broken worker from
    // hanging a test.
    template <typename Wanted>
    bool waitFor(const DetectedStream* of, Wanted wanted,
                 std::chrono::seconds limit = std::chrono::seconds(60)) {
        std::unique_lock lock(mutex_);
        return refreshed_.wait_for(lock, limit, [&] {
            for (const auto& refresh : refreshes_) {
                if (refresh.record == of && wanted(refresh)) {
                    return true;
                }
            }
            return false;
        });
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

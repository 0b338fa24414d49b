#include "core/store/StoreChangeQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {
TEST(StoreChangeQueue, WakesOncePerBatchAndKeepsEachRefreshedRowOnce) {
    int wakes = 0;
    StoreChangeQueue queue([&wakes] { ++wakes; });
    queue.rowAdded(0);
    queue.rowRefreshed(3);
    queue.rowRefreshed(1);
    queue.rowRefreshed(3);
    EXPECT_EQ(wakes, 1);

    StoreChangeQueue::Changes changes = queue.take();
    EXPECT_TRUE(changes.added);
    EXPECT_EQ(changes.refreshed, (std::vector<int>{3, 1}));

    queue.rowRefreshed(3);  // a new batch: wakes again, row 3 counts again
    EXPECT_EQ(wakes, 2);
    changes = queue.take();
    EXPECT_FALSE(changes.added);
    EXPECT_EQ(changes.refreshed, (std::vector<int>{3}));
}

TEST(StoreChangeQueue, ResetForgetsRowsThatAreGone) {
    StoreChangeQueue queue([] {});
    queue.rowRefreshed(7);
    queue.storeReset();
    queue.rowRefreshed(7);
    EXPECT_EQ(queue.take().refreshed, (std::vector<int>{7}));
}

TEST(StoreChangeQueue, ManyThreadsLoseNoRow) {
    std::atomic<int> wakes{0};
    StoreChangeQueue queue([&wakes] { ++wakes; });
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&queue, t] {
            for (int i = 0; i < 1000; ++i) {
                queue.rowRefreshed(t * 1000 + i);
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(wakes.load(), 1);
    EXPECT_EQ(queue.take().refreshed.size(), 4000u);
}
}  // namespace

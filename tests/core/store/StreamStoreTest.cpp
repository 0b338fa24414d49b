#include "core/store/StreamStore.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

DetectedStream streamOf(const std::string& host, const std::string& path,
                        std::uint32_t srcAddr = 1) {
    DetectedStream r;
    std::memset(&r, 0, sizeof r);
    std::strcpy(r.host, host.c_str());
    std::strcpy(r.path, path.c_str());
    std::strcpy(r.scheme, "http");
    std::strcpy(r.suffix, ".asf");
    std::strcpy(r.typeName, "Windows Media Format");
    r.srcAddr = srcAddr;
    r.dstPort = 80;
    r.adapterInfo[0] = 0x42;
    return r;
}

// Host and path of the n-th stream of the many-threads test.
std::pair<std::string, std::string> nthStream(int n) {
    char host[32];
    char path[32];
    std::snprintf(host, sizeof host, "http://h%d", n % 10);
    std::snprintf(path, sizeof path, "/%d.wmv", n);
    return {host, path};
}

struct CountingObserver : StreamStoreObserver {
    std::atomic<int> added{0};
    std::atomic<int> refreshed{0};
    std::atomic<int> resets{0};
    StreamStore* store = nullptr;
    void rowAdded(int row) override {
        ++added;
        if (store != nullptr) {
            StreamRowView texts;
            EXPECT_TRUE(store->rowView(row, texts));  // the lock is not held here
        }
    }
    void rowRefreshed(int) override { ++refreshed; }
    void storeReset() override { ++resets; }
};

TEST(StreamStore, OneRowPerExactHostAndPath) {
    StreamStore store;
    struct Step {
        const char* host;
        const char* path;
        int row;
        bool added;
    } steps[] = {
        {"http://S", "/a.asf", 0, true},
        {"http://S", "/a.asf", 0, false},
        {"http://T", "/a.asf", 1, true},  // same path, other host
        {"http://S", "/A.asf", 2, true},  // letter case counts
        {"http://S", "/a.asf", 0, false},
        {"http://S/a", ".asf", 3, true},  // the split point counts too
    };
    for (const Step& s : steps) {
        auto result = store.add(streamOf(s.host, s.path));
        EXPECT_EQ(result.row, s.row) << s.host << s.path;
        EXPECT_EQ(result.added, s.added) << s.host << s.path;
    }
    EXPECT_EQ(store.rowCount(), 4);
    EXPECT_EQ(store.findRow("http://T", "/a.asf"), 1);
    EXPECT_EQ(store.findRow("http://T", "/b.asf"), -1);
}

TEST(StreamStore, RowKeepsTheFirstSightingAndStartsWithEmptyColumns) {
    StreamStore store;
    DetectedStream first = streamOf("http://S", "/a.asf", 7);
    store.addStream(first);
    DetectedStream repeat = streamOf("http://S", "/a.asf", 9);
    std::strcpy(repeat.typeName, "Other");
    EXPECT_EQ(store.addStream(repeat), 0);

    DetectedStream* kept = store.record(0);
    ASSERT_NE(kept, nullptr);
    EXPECT_EQ(kept->srcAddr, 7u);
    EXPECT_EQ(kept->dstPort, 80);
    EXPECT_STREQ(kept->typeName, "Windows Media Format");
    EXPECT_STREQ(kept->scheme, "http");
    EXPECT_STREQ(kept->suffix, ".asf");
    EXPECT_EQ(kept->adapterInfo[0], 0x42);

    StreamRowView texts;
    ASSERT_TRUE(store.rowView(0, texts));
    EXPECT_STREQ(texts.host, "http://S");
    EXPECT_STREQ(texts.path, "/a.asf");
    EXPECT_EQ(texts.transfer.stage, TransferProgress::Stage::kNone);
    EXPECT_FALSE(texts.transfer.size || texts.transfer.rate);
    EXPECT_FALSE(store.rowView(1, texts));
    EXPECT_EQ(store.record(1), nullptr);

    // A copy into a reused record reads the same as the store's own, bookkeeping zero.
    auto reused = std::make_unique<DetectedStream>();
    std::memset(reused.get(), 0xA5, sizeof *reused);
    ASSERT_TRUE(store.copyRecord(0, *reused));
    EXPECT_EQ(0, std::memcmp(reused.get(), kept, offsetof(DetectedStream, suffix)));
    for (auto text : {&DetectedStream::host, &DetectedStream::typeName}) {
        EXPECT_STREQ((*reused).*text, kept->*text);
    }
    EXPECT_STREQ(reused->path, "/a.asf");
    EXPECT_STREQ(reused->query, "");
    EXPECT_STREQ(reused->userAgent, "");
    EXPECT_STREQ(reused->localFile, "");
    EXPECT_EQ(0, std::memcmp(reused->adapterInfo, kept->adapterInfo, sizeof kept->adapterInfo));
    EXPECT_EQ(reused->srcAddr6[15], 0);
}

TEST(StreamStore, ShowTransferGivesTheRowItsProgressAndState) {
    StreamStore store;
    auto observer = std::make_shared<CountingObserver>();
    store.addObserver(observer);
    store.add(streamOf("http://S", "/a.asf"));
    store.add(streamOf("http://S", "/b.asf"));
    DetectedStream downloading = streamOf("http://S", "/b.asf");
    downloading.state = kStateDownloading;
    TransferProgress progress;
    progress.stage = TransferProgress::Stage::kPercent;
    progress.percent = 50;
    progress.size = 1536;
    EXPECT_EQ(store.showTransfer(downloading, progress), 1);

    StreamRowView texts;
    ASSERT_TRUE(store.rowView(1, texts));
    EXPECT_EQ(texts.transfer.percent, 50);
    EXPECT_EQ(texts.transfer.size, 1536u);
    EXPECT_EQ(texts.state, kStateDownloading);
    ASSERT_TRUE(store.rowView(0, texts));
    EXPECT_EQ(texts.transfer.stage, TransferProgress::Stage::kNone);
    EXPECT_EQ(observer->refreshed, 1);
    EXPECT_EQ(observer->added, 2);

    // Progress of an unknown stream changes nothing.
    EXPECT_EQ(store.showTransfer(streamOf("http://X", "/b.asf"), progress), -1);
    EXPECT_EQ(store.rowCount(), 2);
    EXPECT_EQ(observer->refreshed, 1);
}

TEST(StreamStore, RecordsStayPutAsRowsGrowAndOutliveAReset) {
    StreamStore store;
    store.add(streamOf("http://S", "/first.asf"));
    DetectedStream* first = store.record(0);
    std::shared_ptr<DetectedStream> held = store.sharedRecord(0);
    for (int i = 0; i < 20000; ++i) {
        char path[32];
        std::snprintf(path, sizeof path, "/%d.asf", i);
        store.add(streamOf("http://S", path));
    }
    EXPECT_EQ(store.record(0), first);
    EXPECT_EQ(store.findRow("http://S", "/19999.asf"), 20000);

    auto observer = std::make_shared<CountingObserver>();
    store.addObserver(observer);
    store.reset();
    EXPECT_EQ(observer->resets, 1);
    EXPECT_EQ(store.rowCount(), 0);
    EXPECT_STREQ(held->path, "/first.asf");  // still alive for whoever holds it
    EXPECT_TRUE(store.add(streamOf("http://S", "/first.asf")).added);
}

TEST(StreamStore, AWholeRecordWithBookkeepingIsKept) {
    StreamStore store;
    DetectedStream r = streamOf("http://S", "/a.asf");
    std::strcpy(r.localFile, "/tmp/a.asf");
    r.state = kStateEnded;
    store.add(r);
    EXPECT_STREQ(store.record(0)->localFile, "/tmp/a.asf");
    StreamRowView texts;
    store.rowView(0, texts);
    EXPECT_EQ(texts.state, kStateEnded);
}

// Rows taken out leave no trace but can come back; a row being downloaded stays.
TEST(StreamStore, RemovedRowsGoExceptDownloadingOnes) {
    StreamStore store;
    for (const char* path : {"/a.asf", "/b.asf", "/c.asf", "/d.asf"}) {
        store.add(streamOf("http://S", path));
    }
    DetectedStream* downloading = store.record(1);
    downloading->state = kStateDownloading;
    TransferProgress half;
    half.stage = TransferProgress::Stage::kPercent;
    half.percent = 50;
    store.showTransfer(*downloading, half);

    EXPECT_EQ(store.removeRows({0, 1, 3, 3, 7}), (std::vector<int>{-1, 0, 1, -1}));
    EXPECT_EQ(store.rowCount(), 2);
    EXPECT_EQ(store.record(0), downloading);
    StreamRowView texts;
    ASSERT_TRUE(store.rowView(0, texts));
    EXPECT_STREQ(texts.path, "/b.asf");
    EXPECT_EQ(texts.transfer.percent, 50);
    EXPECT_EQ(store.findRow("http://S", "/c.asf"), 1);
    EXPECT_EQ(store.findRow("http://S", "/a.asf"), -1);
    const StreamStore::AddResult again = store.add(streamOf("http://S", "/a.asf"));
    EXPECT_TRUE(again.added);
    EXPECT_EQ(again.row, 2);
    EXPECT_TRUE(store.removeRows({0}).empty());  // downloading: nothing goes
    EXPECT_EQ(store.rowCount(), 3);
}

TEST(StreamStore, ManyThreadsAddEachStreamOnce) {
    StreamStore store;
    auto observer = std::make_shared<CountingObserver>();
    observer->store = &store;
    store.addObserver(observer);
    constexpr int kThreads = 4;
    constexpr int kDistinct = 3000;
    std::atomic<int> addedByCalls{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kDistinct; ++i) {
                int n = (i * 7 + t * 13) % kDistinct;  // every thread, every stream
                auto r = streamOf(nthStream(n).first, nthStream(n).second);
                if (store.add(r).added) {
                    ++addedByCalls;
                }
                if (i % 50 == 0) {
                    store.showTransfer(r, TransferProgress{});
                    store.record(n % 100);
                }
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(store.rowCount(), kDistinct);
    EXPECT_EQ(addedByCalls, kDistinct);
    EXPECT_EQ(observer->added, kDistinct);
    for (int n = 0; n < kDistinct; ++n) {
        ASSERT_GE(store.findRow(nthStream(n).first, nthStream(n).second), 0);
    }
}

// The index moves to a larger table a few entries per new row (the first move starts at row
// 513, the second at row 1025; with tens of thousands of rows, memory for more is made ahead);
// every row stays found during and after such a move, also when rows are taken out or the list
// is emptied in the middle of one.
TEST(StreamStore, EveryRowIsFoundWhileTheIndexGrows) {
    struct Case {
        int rows;         // added first
        int removeEvery;  // then every n-th row taken out (0: none)
        bool reset;       // or the list emptied
    } cases[] = {
        {512, 0, false},  {513, 0, false}, {530, 0, false},  {530, 3, false},   {530, 0, true},
        {1050, 2, false}, {1050, 0, true}, {5000, 7, false}, {70000, 5, false}, {70000, 0, true},
    };
    for (const Case& c : cases) {
        StreamStore store;
        std::vector<int> rowOf(static_cast<std::size_t>(c.rows) + 1000, -1);
        auto addAll = [&](int count) {
            for (int n = 0; n < count; ++n) {
                auto [host, path] = nthStream(n);
                const StreamStore::AddResult result = store.add(streamOf(host, path));
                int& expected = rowOf[static_cast<std::size_t>(n)];
                EXPECT_EQ(result.added, expected < 0) << c.rows << " " << n;
                if (expected < 0) {
                    expected = result.row;
                }
                ASSERT_EQ(result.row, expected) << c.rows << " " << n;
            }
        };
        addAll(c.rows);
        if (c.removeEvery > 0) {
            std::vector<int> gone;
            for (int n = 0; n < c.rows; n += c.removeEvery) {
                gone.push_back(n);
            }
            const std::vector<int> moved = store.removeRows(gone);
            ASSERT_EQ(moved.size(), static_cast<std::size_t>(c.rows));
            for (int& row : rowOf) {
                row = row < 0 ? -1 : moved[static_cast<std::size_t>(row)];
            }
        }
        if (c.reset) {
            store.reset();
            std::fill(rowOf.begin(), rowOf.end(), -1);
        }
        for (int n = 0; n < c.rows; ++n) {
            auto [host, path] = nthStream(n);
            ASSERT_EQ(store.findRow(host, path), rowOf[static_cast<std::size_t>(n)]) << n;
        }
        addAll(static_cast<int>(rowOf.size()));  // the taken out again, and a growth more
        EXPECT_EQ(store.rowCount(), static_cast<int>(rowOf.size()));
        for (std::size_t n = 0; n < rowOf.size(); ++n) {
            auto [host, path] = nthStream(static_cast<int>(n));
            ASSERT_EQ(store.findRow(host, path), rowOf[n]) << c.rows << " " << n;
        }
        EXPECT_EQ(store.findRow("http://h1", "/none.wmv"), -1);
    }
}

TEST(StreamStore, RemovedObserversHearNothingMore) {
    StreamStore store;
    auto observer = std::make_shared<CountingObserver>();
    store.addObserver(observer);
    store.add(streamOf("http://S", "/a.asf"));
    store.removeObserver(observer.get());
    store.add(streamOf("http://S", "/b.asf"));
    EXPECT_EQ(observer->added, 1);
}

}  // namespace

// A flood of new streams stops at the limit: nothing listed is lost, repeats still find their
// row, and every stream that did not fit is counted until the next reset.
TEST(StreamStore, AFullListDropsAndCountsNewStreamsOnly) {
    struct Step {
        const char* path;
        int row;  // expected: the row, or -1 when dropped
        bool added;
        int rows;
        std::uint64_t dropped;
    };
    const Step steps[] = {
        {"/a.wmv", 0, true, 1, 0},   {"/b.wmv", 1, true, 2, 0},  {"/c.wmv", 2, true, 3, 0},
        {"/d.wmv", -1, false, 3, 1}, {"/a.wmv", 0, false, 3, 1}, {"/e.wmv", -1, false, 3, 2},
        {"/d.wmv", -1, false, 3, 3}, {"/c.wmv", 2, false, 3, 3},
    };
    StreamStore store;
    EXPECT_EQ(store.rowLimit(), StreamStore::kDefaultRowLimit);
    store.setRowLimit(3);
    auto observer = std::make_shared<CountingObserver>();
    store.addObserver(observer);
    for (const Step& step : steps) {
        StreamStore::AddResult result = store.add(streamOf("http://s", step.path));
        EXPECT_EQ(result.row, step.row) << step.path;
        EXPECT_EQ(result.added, step.added) << step.path;
        EXPECT_EQ(store.rowCount(), step.rows) << step.path;
        EXPECT_EQ(store.droppedCount(), step.dropped) << step.path;
    }
    EXPECT_EQ(observer->added.load(), 3);
    DetectedStream kept;
    ASSERT_TRUE(store.copyRecord(2, kept));
    EXPECT_STREQ(kept.path, "/c.wmv");

    store.reset();
    EXPECT_EQ(store.droppedCount(), 0u);
    EXPECT_EQ(store.add(streamOf("http://s", "/d.wmv")).row, 0);

    // A lower limit keeps what is listed and takes nothing new.
    store.setRowLimit(0);
    EXPECT_EQ(store.add(streamOf("http://s", "/d.wmv")).row, 0);
    EXPECT_EQ(store.add(streamOf("http://s", "/f.wmv")).row, -1);
    EXPECT_EQ(store.droppedCount(), 1u);
    store.removeObserver(observer.get());
}

namespace {

DetectedStream withQuery(DetectedStream r, const std::string& query) {
    std::strcpy(r.query, query.c_str());
    return r;
}

}  // namespace

TEST(StreamStore, ARowKeepsTheQueryOfItsLatestSighting) {
    StreamStore store;
    const DetectedStream clip = streamOf("http://cdn", "/clip.wmv");
    struct Sighting {
        const char* query;
        bool added;
    } sightings[] = {
        {"", true}, {"?sig=1", false}, {"?sig=2&exp=9", false}, {"", false}, {"?sig=3", false}};
    DetectedStream out;
    for (const Sighting& s : sightings) {
        StreamStore::AddResult result = store.add(withQuery(clip, s.query));
        EXPECT_EQ(result.row, 0);
        EXPECT_EQ(result.added, s.added) << s.query;
        ASSERT_TRUE(store.copyRecord(0, out));
        EXPECT_STREQ(out.query, s.query);
    }
    // The store's own record, once made, is brought up to date when asked for again.
    DetectedStream* kept = store.record(0);
    ASSERT_NE(kept, nullptr);
    EXPECT_STREQ(kept->query, "?sig=3");
    store.add(withQuery(clip, "?sig=4"));
    EXPECT_STREQ(store.record(0)->query, "?sig=4");
    EXPECT_EQ(store.record(0), kept);
    // Another path is another row with its own query; a reset forgets them all.
    store.add(withQuery(streamOf("http://cdn", "/other.wmv"), "?x"));
    ASSERT_TRUE(store.copyRecord(1, out));
    EXPECT_STREQ(out.query, "?x");
    store.reset();
    store.add(clip);
    ASSERT_TRUE(store.copyRecord(0, out));
    EXPECT_STREQ(out.query, "");
}

TEST(StreamStore, ARowKeepsTheRequestContextOfItsLatestSighting) {
    StreamStore store;
    const DetectedStream clip = streamOf("http://cdn", "/clip.wmv");
    struct Sighting {
        const char* referer;
        const char* userAgent;
        const char* cookie;
    } sightings[] = {{"", "", ""},
                     {"http://page/1", "UA/1", ""},
                     {"http://page/2", "UA/2", "s=2"},
                     {"", "UA/3", ""},
                     {"", "", ""}};
    DetectedStream out;
    for (const Sighting& s : sightings) {
        DetectedStream seen = clip;
        std::strcpy(seen.referer, s.referer);
        std::strcpy(seen.userAgent, s.userAgent);
        std::strcpy(seen.cookie, s.cookie);
        store.add(seen);
        ASSERT_TRUE(store.copyRecord(0, out));
        EXPECT_STREQ(out.referer, s.referer);
        EXPECT_STREQ(out.userAgent, s.userAgent);
        EXPECT_STREQ(out.cookie, s.cookie);
        EXPECT_STREQ(store.record(0)->userAgent, s.userAgent);
    }
    // A new row takes its first sighting's context; a reset forgets them all.
    DetectedStream other = streamOf("http://cdn", "/other.wmv");
    std::strcpy(other.referer, "http://page/o");
    store.add(other);
    ASSERT_TRUE(store.copyRecord(1, out));
    EXPECT_STREQ(out.referer, "http://page/o");
    store.reset();
    store.add(clip);
    ASSERT_TRUE(store.copyRecord(0, out));
    EXPECT_STREQ(out.referer, "");
}

TEST(StreamStore, RowsSharingRequestHeadersKeepTheirOwnLatest) {
    // Sightings in order (path, User-Agent); rows share a context while their headers are
    // the same, and a context left by its last row is used again for another.
    const std::pair<const char*, const char*> sightings[] = {
        {"/a.wmv", "UA/1"}, {"/b.wmv", "UA/1"}, {"/a.wmv", "UA/2"}, {"/c.wmv", "UA/1"},
        {"/b.wmv", "UA/3"}, {"/b.wmv", "UA/1"}, {"/d.wmv", "UA/2"}, {"/a.wmv", ""},
        {"/e.wmv", "UA/4"}, {"/d.wmv", "UA/4"}, {"/f.wmv", "UA/2"},
    };
    const std::pair<const char*, const char*> expected[] = {
        {"/a.wmv", ""},     {"/b.wmv", "UA/1"}, {"/c.wmv", "UA/1"},
        {"/d.wmv", "UA/4"}, {"/e.wmv", "UA/4"}, {"/f.wmv", "UA/2"},
    };
    StreamStore store;
    for (const auto& [path, userAgent] : sightings) {
        DetectedStream seen = streamOf("http://cdn", path);
        std::strcpy(seen.userAgent, userAgent);
        std::strcpy(seen.referer, *userAgent != '\0' ? "http://page/" : "");
        store.add(seen);
    }
    ASSERT_EQ(store.rowCount(), 6);
    for (const auto& [path, userAgent] : expected) {
        int row = store.findRow("http://cdn", path);
        DetectedStream out;
        ASSERT_TRUE(store.copyRecord(row, out)) << path;
        EXPECT_STREQ(out.userAgent, userAgent) << path;
        EXPECT_STREQ(out.referer, *userAgent != '\0' ? "http://page/" : "") << path;
    }
}

TEST(StreamStore, Ipv6RowsKeepTheirAddresses) {
    StreamStore store;
    DetectedStream v6 = streamOf("http://[2001:db8::1]", "/a.asf", 0);
    v6.verIhl = 0x60;
    for (int i = 0; i < 16; ++i) {
        v6.srcAddr6[i] = static_cast<std::uint8_t>(i);
        v6.dstAddr6[i] = static_cast<std::uint8_t>(0xF0 + i);
    }
    store.add(streamOf("http://S", "/b.asf"));
    store.add(v6);
    DetectedStream out;
    ASSERT_TRUE(store.copyRecord(1, out));
    EXPECT_TRUE(IsIpv6(out));
    EXPECT_EQ(std::memcmp(out.srcAddr6, v6.srcAddr6, 16), 0);
    EXPECT_EQ(std::memcmp(out.dstAddr6, v6.dstAddr6, 16), 0);
    ASSERT_TRUE(store.copyRecord(0, out));
    EXPECT_FALSE(IsIpv6(out));
    const std::uint8_t zero[16] = {};
    EXPECT_EQ(std::memcmp(out.srcAddr6, zero, 16), 0);
}

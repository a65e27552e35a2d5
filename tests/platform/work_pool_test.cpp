#include "platform/work_pool.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/failure.h"

namespace dsu::platform {
namespace {

// Every item prepared is either committed, in order, or discarded, once; a
// failure ends the work even while pool threads sleep a window ahead. Every
// thread of the pool takes part, not only the first woken.
TEST(InOrder, EachPreparedItemIsCommittedInOrderOrDiscardedOnce) {
    constexpr std::size_t kNone = static_cast<std::size_t>(-1);
    struct Case {
        const char* name;
        Ahead ahead;
        std::size_t count;
        std::size_t commitFails;   // the commit that throws, or kNone
        std::size_t prepareFails;  // the prepare that throws, or kNone
        bool together = false;     // the first prepares wait until every thread holds one
    };
    // 2,000 items wrap the window of 16 threads (512) several times; a slow
    // first commit lets the pool fill the window and sleep before the failure.
    const Case cases[] = {
        {"window, all committed", Ahead::Window, 2000, kNone, kNone},
        {"all ahead, all committed", Ahead::All, 2000, kNone, kNone},
        {"window, every thread at work at once", Ahead::Window, 2000, kNone, kNone, true},
        {"all ahead, every thread at work at once", Ahead::All, 2000, kNone, kNone, true},
        {"window, commit fails with threads asleep", Ahead::Window, 2000, 20, kNone},
        {"all ahead, commit fails", Ahead::All, 2000, 20, kNone},
        {"window, a prepare fails late", Ahead::Window, 2000, kNone, 1500},
        {"window, fewer items than threads", Ahead::Window, 3, kNone, kNone},
        {"no items", Ahead::Window, 0, kNone, kNone},
    };
    // One pool for all, as the program's; its threads are asleep when each
    // case starts, as between the program's jobs.
    WorkPool pool(kWriteThreads);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        std::mutex mutex;
        std::vector<int> prepared(c.count, 0), committed(c.count, 0), discarded(c.count, 0);
        std::vector<std::size_t> order;
        bool failed = false;
        std::condition_variable arrival;
        std::size_t arrived = 0, met = 0;  // met: prepares that saw every thread hold one
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        try {
            InOrder<std::size_t>(
                pool, c.count, c.ahead,
                [&](std::size_t i) {
                    if (i == c.prepareFails) throw Failure(u"prepare");
                    std::unique_lock lock(mutex);
                    if (c.together && i < kWriteThreads) {
                        ++arrived;
                        arrival.notify_all();
                        if (arrival.wait_until(lock, deadline,
                                               [&] { return arrived == kWriteThreads; }))
                            ++met;
                    }
                    ++prepared[i];
                    return i;
                },
                [&](std::size_t i, std::size_t result) {
                    EXPECT_EQ(result, i);
                    if (i == 0) std::this_thread::sleep_for(std::chrono::milliseconds(50));
                    order.push_back(i);
                    ++committed[i];
                    if (i == c.commitFails) throw Failure(u"commit");
                },
                [&](std::size_t result) {
                    std::lock_guard lock(mutex);
                    ++discarded[result];
                });
        } catch (const Failure&) {
            failed = true;
        }
        const std::size_t commits =
            c.commitFails < c.count ? c.commitFails + 1 : std::min(c.prepareFails, c.count);
        EXPECT_EQ(failed, c.commitFails < c.count || c.prepareFails < c.count);
        if (c.together) {
            EXPECT_EQ(met, kWriteThreads);
        }
        ASSERT_EQ(order.size(), commits);
        for (std::size_t i = 0; i < order.size(); ++i) EXPECT_EQ(order[i], i);
        for (std::size_t i = 0; i < c.count; ++i) {
            if (i == c.prepareFails) continue;
            EXPECT_EQ(prepared[i], committed[i] + discarded[i]) << "item " << i;
            EXPECT_LE(committed[i] + discarded[i], 1) << "item " << i;
        }
    }
}

// Items are worked while the listing goes on, each once; whatever throws, the
// work under way has ended when the call returns, and a listing's failure
// wins over a work's. The calling thread keeps the window alive meanwhile.
TEST(AsListed, EachItemIsWorkedOnceAndNoWorkOutlivesTheCall) {
    constexpr std::size_t kNone = static_cast<std::size_t>(-1);
    struct Case {
        const char* name;
        std::size_t threads;
        std::size_t batches;    // of 100 items each
        std::size_t listFails;  // the batch the listing throws at, or kNone
        std::size_t workFails;  // the item whose work throws, or kNone
        const char* thrown = nullptr;
    };
    const Case cases[] = {
        {"all worked", kReadThreads, 20, kNone, kNone},
        {"no pool threads", 0, 20, kNone, kNone},
        {"nothing listed", kReadThreads, 0, kNone, kNone},
        {"the listing fails midway", kReadThreads, 20, 10, kNone, "list"},
        {"a work fails", kReadThreads, 20, kNone, 150, "work"},
        {"both fail: the listing's goes on", kReadThreads, 20, 10, 150, "list"},
    };
    WorkPool pool(kReadThreads);
    WorkPool none(0);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::size_t count = c.batches * 100;
        std::vector<std::atomic<int>> worked(count);
        std::atomic<int> running = 0;
        std::atomic<int> waits = 0;
        std::atomic<std::size_t> total = 0;
        bool workedWhileListing = false;
        std::string thrown;
        try {
            AsListed<std::size_t>(
                c.threads == 0 ? none : pool,
                [&](const std::function<void(std::vector<std::size_t> &&)>& found) {
                    for (std::size_t b = 0; b < c.batches; ++b) {
                        if (b == c.listFails) throw Failure(u"list");
                        std::vector<std::size_t> batch(100);
                        for (std::size_t i = 0; i < 100; ++i) batch[i] = b * 100 + i;
                        found(std::move(batch));
                        // The first batch is worked before the listing goes on.
                        const auto deadline =
                            std::chrono::steady_clock::now() + std::chrono::seconds(5);
                        while (b == 0 && total.load() == 0 &&
                               std::chrono::steady_clock::now() < deadline)
                            std::this_thread::sleep_for(std::chrono::milliseconds(1));
                        if (b == 0) workedWhileListing = total.load() > 0;
                    }
                },
                [&](std::size_t i) {
                    ++running;
                    ++worked[i];
                    ++total;
                    // The last items are slow, so that the calling thread waits.
                    if (i + 3 >= count || i == c.workFails)
                        std::this_thread::sleep_for(std::chrono::milliseconds(30));
                    --running;
                    if (i == c.workFails) throw Failure(u"work");
                },
                [&] { ++waits; });
        } catch (const Failure& failure) {
            thrown.assign(failure.Message().begin(), failure.Message().end());
        }
        EXPECT_EQ(thrown, c.thrown ? c.thrown : "");
        EXPECT_EQ(running.load(), 0);
        for (std::size_t i = 0; i < count; ++i) {
            if (c.thrown) {
                EXPECT_LE(worked[i].load(), 1) << "item " << i;
            } else {
                EXPECT_EQ(worked[i].load(), 1) << "item " << i;
            }
        }
        if (count > 0 && c.listFails != 0) {
            EXPECT_TRUE(workedWhileListing);
        }
        if (!c.thrown && c.threads > 0 && count > 0) {
            EXPECT_GT(waits.load(), 0);
        }
    }
}

}  // namespace
}  // namespace dsu::platform

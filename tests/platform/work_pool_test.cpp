#include "platform/work_pool.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
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

}  // namespace
}  // namespace dsu::platform

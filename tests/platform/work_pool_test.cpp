#include "platform/work_pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/failure.h"
#include "platform/text.h"

namespace dsu::platform {
namespace {

// Every result prepared is committed, in order, or discarded, once: one
// whose commit throws is not committed. A failure ahead of its turn is not
// final: the item is prepared again at its turn with nothing else in flight,
// and only that failure ends the work; a result refused at its turn is
// discarded and its item left out. A failed flush is final wherever it was
// made: its item is never made again, and the work ends with it at its turn. No work outlives the
// call, whatever throws.
TEST(InOrder, EachResultIsCommittedInOrderOrDiscardedOnce) {
    constexpr std::size_t kNone = static_cast<std::size_t>(-1);
    constexpr std::size_t kHeld = 100;  // the first of its run
    struct Case {
        const char* name;
        std::size_t threads = kWriteThreads;
        std::size_t count = 2000;  // wraps a window of 512 several times
        std::size_t ahead = kDescriptorsAhead;
        std::set<std::size_t> failAhead = {};  // prepares that throw ahead of their turn
        std::size_t failAtItsTurn = kNone;     // ... and at their turn too
        std::size_t commitFails = kNone;
        std::size_t commitRefuses = kNone;  // a stale result, refused once
        std::size_t flushFails = kNone;     // its first prepare, with a FlushError
        bool waitFails = false;             // the first wait, on the run of item kHeld
        const char* thrown = nullptr;
    };
    const Case cases[] = {
        {.name = "all committed"},
        {.name = "small results", .threads = kReadThreads, .ahead = kSmallResultsAhead},
        {.name = "no pool threads", .threads = 0},
        {.name = "fewer items than threads", .count = 3},
        {.name = "no items", .count = 0},
        {.name = "failures ahead only", .failAhead = {0, 7, 700, 1999}},
        {.name = "no pool threads, failures ahead only", .threads = 0, .failAhead = {3, 1500}},
        {.name = "a failure at its turn ends the work",
         .failAhead = {600},
         .failAtItsTurn = 600,
         .thrown = "prepare"},
        {.name = "a commit fails", .commitFails = 20, .thrown = "commit"},
        {.name = "a commit at its turn fails",
         .failAhead = {600},
         .commitFails = 600,
         .thrown = "commit"},
        {.name = "a stale result is made again", .commitRefuses = 900},
        {.name = "a result refused at its turn is left out",
         .failAhead = {900},
         .commitRefuses = 900},
        {.name = "the keep-alive fails", .waitFails = true, .thrown = "wait"},
        {.name = "a failed flush is final", .flushFails = 600, .thrown = "flush"},
        {.name = "a failed flush after a stale result in its run",
         .commitRefuses = 600,
         .flushFails = 601,
         .thrown = "flush"},
        {.name = "a failed flush in work given up for a stale result",
         .commitRefuses = 600,
         .flushFails = 700,
         .thrown = "flush"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WorkPool pool(c.threads);
        std::mutex mutex;
        std::vector<int> prepared(c.count, 0), committed(c.count, 0), discarded(c.count, 0);
        std::vector<std::size_t> order;
        std::atomic<int> running = 0;
        bool aloneWithOthersInFlight = false, refused = false;
        std::atomic<bool> flushFailed = false, flushMadeAgain = false;
        std::atomic<bool> waited = false;
        std::string thrown;
        try {
            InOrder(
                pool, c.count, c.ahead,
                [&](std::size_t i, bool atItsTurn) {
                    ++running;
                    if (atItsTurn && running.load() != 1) aloneWithOthersInFlight = true;
                    // Held up until the calling thread has waited on it.
                    if (c.waitFails && i == kHeld)
                        while (!waited.load()) std::this_thread::yield();
                    if (i == c.flushFails && flushFailed.exchange(true)) flushMadeAgain = true;
                    if (i == c.flushFails && !flushMadeAgain) {
                        --running;
                        throw FlushError(u"flush", u"", u"");
                    }
                    const bool fails = atItsTurn ? i == c.failAtItsTurn : c.failAhead.contains(i);
                    if (!fails) {
                        std::lock_guard lock(mutex);
                        ++prepared[i];
                    }
                    --running;
                    if (fails) throw Failure(u"prepare");
                    return i;
                },
                [&](std::size_t i, std::size_t result) {
                    EXPECT_EQ(result, i);
                    if (i == c.commitRefuses && !refused) return !(refused = true);
                    if (i == c.commitFails) throw Failure(u"commit");
                    order.push_back(i);
                    ++committed[i];
                    return true;
                },
                [&](std::size_t result) {
                    std::lock_guard lock(mutex);
                    ++discarded[result];
                },
                [&] {
                    waited = true;
                    if (c.waitFails) throw Failure(u"wait");
                });
        } catch (const FlushError&) {
            thrown = "flush";
        } catch (const Failure& failure) {
            thrown = ToUtf8(failure.Message());
        }
        EXPECT_EQ(thrown, c.thrown ? c.thrown : "");
        EXPECT_EQ(running.load(), 0);
        EXPECT_FALSE(aloneWithOthersInFlight);
        EXPECT_FALSE(flushMadeAgain.load());
        std::size_t ends = c.count;  // the first item not committed for good
        if (c.failAtItsTurn != kNone) ends = c.failAtItsTurn;
        if (c.commitFails != kNone) ends = c.commitFails;
        if (c.flushFails != kNone) ends = c.flushFails;
        std::vector<std::size_t> expected;
        for (std::size_t i = 0; i < ends; ++i)
            if (!(i == c.commitRefuses && c.failAhead.contains(i))) expected.push_back(i);
        if (c.waitFails) {
            // Nothing from the run the wait was made for on is committed.
            EXPECT_TRUE(waited.load());
            ASSERT_LE(order.size(), kHeld);
            expected.resize(order.size());
        }
        EXPECT_EQ(order, expected);
        for (std::size_t i = 0; i < c.count; ++i) {
            EXPECT_EQ(prepared[i], committed[i] + discarded[i]) << "item " << i;
            EXPECT_LE(committed[i], 1) << "item " << i;
        }
    }
}

}  // namespace
}  // namespace dsu::platform

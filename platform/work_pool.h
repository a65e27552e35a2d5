// A fixed set of threads for file work whose waits can overlap: many small
// files read at once keep the disk's queue full, and flushes made at once
// are committed together. The calling thread keeps the order: it takes the
// results in listing order, whatever order they finish in, and does all that
// must happen in order (messages, registrations, replaces) itself.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <new>
#include <thread>
#include <type_traits>
#include <vector>

#include "platform/failure.h"

namespace dsu::platform {

// Reading many small files: enough threads to keep a disk's queue full when
// they are not cached. When they are, the work is the processor's, and more
// threads only took its time from the thread that takes the results.
inline constexpr std::size_t kReadThreads = 8;
// Writing and flushing: each flush waits on the disk, cached files or not,
// and flushes made at once are committed together, so here more threads
// keep paying (a large update run took an eighth less time on 16 than on 8).
inline constexpr std::size_t kWriteThreads = 16;

// How many items InOrder prepares ahead of the one committed: descriptors,
// each holding a temporary file and its disk space; and small results (a
// flag, a kuid text), enough that the pool never waits on the calling
// thread, whose share of a busy processor would otherwise set the pace.
inline constexpr std::size_t kDescriptorsAhead = 32 * kWriteThreads;
inline constexpr std::size_t kSmallResultsAhead = 8192;

class WorkPool {
  public:
    // Starts up to `threads` threads. One the system cannot start is left
    // out; with none, Post runs each task on the calling thread.
    explicit WorkPool(std::size_t threads);
    ~WorkPool();
    WorkPool(const WorkPool&) = delete;
    WorkPool& operator=(const WorkPool&) = delete;

    std::size_t Threads() const { return threads_.size(); }
    // Queues `task`. A thread that takes one wakes the next while tasks are
    // left: a burst of wake-ups from one thread queued them on one processor.
    void Post(std::function<void()> task);

  private:
    void Work();

    std::mutex mutex_;
    std::condition_variable posted_;
    std::deque<std::function<void()>> tasks_;
    bool stopping_ = false;
    std::vector<std::thread> threads_;
};

// Runs prepare(i, false) for every i below `count` on the pool, at most
// `ahead` items beyond the first not yet committed, and commit(i, result) on
// the calling thread in order of i; `wait` runs there while it waits (a
// window's keep-alive).
//
// Work ahead of its turn is speculative. A prepare that throws there, or a
// result that commit refuses (returns false for, as stale), is not final: at
// its turn, whatever was prepared beyond it is discarded, and prepare(i,
// true) runs again on the calling thread with nothing else in flight; only
// what that throws goes on. A FlushError is final wherever it was thrown,
// even in work given up for an earlier item: nothing from its item on is
// made again, and at its turn it goes on as it is. A result
// made at its turn that commit refuses all the same goes to discard, and the
// item is left as it is. When commit, such a prepare or `wait` throws, every
// prepare under way is waited for and each result not committed goes to
// discard(result), which must not throw: the one whose commit threw too;
// then the exception goes on.
template <class Prepare, class Commit, class Discard>
void InOrder(WorkPool& pool, std::size_t count, std::size_t ahead, Prepare&& prepare,
             Commit&& commit, Discard&& discard, const std::function<void()>& wait = {}) {
    using Result = std::invoke_result_t<Prepare&, std::size_t, bool>;
    // The results of a run of items from `first`, up to the first that threw.
    struct Run {
        std::size_t first = 0;
        std::vector<Result> results;
        std::exception_ptr error;
        bool final = false;  // the error is a FlushError
    };
    // Items go to the pool a few at a time: handing one over costs more than
    // preparing it when it is cached, while one slow cold read holds up only
    // the rest of its run.
    const std::size_t perRun =
        std::clamp<std::size_t>(ahead / (8 * std::max<std::size_t>(pool.Threads(), 1)), 1, 16);
    std::deque<std::future<Run>> inFlight;  // the oldest first
    std::size_t posted = 0;                 // the first item not yet handed over
    std::atomic<bool> giveUp = false;       // runs not yet started end at once
    // The first item whose flush failed ahead of its turn, and how: the work
    // stops short of it, and ends with it at its turn.
    std::size_t finalAt = count;
    std::exception_ptr finalError;
    auto keepFinal = [&](const Run& run) {
        const std::size_t at = run.first + run.results.size();
        if (run.final && at < finalAt) {
            finalAt = at;
            finalError = run.error;
        }
    };

    auto post = [&](std::size_t committed) {
        while (posted < finalAt && posted - committed < std::max<std::size_t>(ahead, 1)) {
            const std::size_t first = posted;
            const std::size_t n = std::min(perRun, finalAt - first);
            auto task = std::make_shared<std::packaged_task<Run()>>([&, first, n] {
                Run run;
                run.first = first;
                try {
                    run.results.reserve(n);
                    for (std::size_t k = 0; k < n && !giveUp.load(std::memory_order_relaxed); ++k)
                        run.results.push_back(prepare(first + k, false));
                } catch (const FlushError&) {
                    run.error = std::current_exception();
                    run.final = true;
                } catch (...) {
                    run.error = std::current_exception();
                }
                return run;
            });
            inFlight.push_back(task->get_future());
            posted += n;
            // A task the pool has no memory to queue is made here, so that
            // every future in flight becomes ready.
            try {
                pool.Post([task] { (*task)(); });
            } catch (const std::bad_alloc&) {
                (*task)();
            }
        }
    };
    // Moves `k` past each result before it goes, so that none goes twice.
    auto discardFrom = [&](Run& run, std::size_t& k) {
        while (k < run.results.size()) discard(run.results[k++]);
    };
    // The tasks refer to this frame: all of them end before it does, and
    // before a discard that throws all the same (a test's power cut) can
    // leave it. Allocates nothing, as memory may be what ran out.
    auto giveUpInFlight = [&] {
        giveUp = true;
        for (std::future<Run>& future : inFlight) future.wait();
        giveUp = false;
        while (!inFlight.empty()) {
            Run given;
            try {
                given = inFlight.front().get();
            } catch (...) {  // a run that could not be made holds nothing
            }
            inFlight.pop_front();
            keepFinal(given);
            std::size_t first = 0;
            discardFrom(given, first);
        }
    };

    std::size_t i = 0;  // the next item to commit
    Run run;
    std::size_t k = 0;  // the first of `run` neither committed nor discarded
    try {
        while (i < count) {
            if (i == finalAt) std::rethrow_exception(finalError);
            post(i);
            // The window paints meanwhile: a wait on a cold disk can be long.
            while (inFlight.front().wait_for(std::chrono::milliseconds(20)) !=
                   std::future_status::ready)
                if (wait) wait();
            run = inFlight.front().get();
            inFlight.pop_front();
            for (k = 0; k < run.results.size() && commit(i, run.results[k]); ++k) ++i;
            if (k == run.results.size() && !run.error) continue;
            keepFinal(run);
            if (i == finalAt) std::rethrow_exception(finalError);
            // Item i failed ahead of its turn, or its result was stale.
            giveUpInFlight();
            discardFrom(run, k);
            run = {};
            k = 0;
            posted = i + 1;
            Result alone = prepare(i, true);
            bool committed = false;
            try {
                committed = commit(i, alone);
            } catch (...) {
                discard(alone);
                throw;
            }
            // Final: made again, it could be refused for ever.
            if (!committed) discard(alone);
            ++i;
        }
    } catch (...) {
        giveUpInFlight();
        discardFrom(run, k);
        throw;
    }
}

}  // namespace dsu::platform

// A fixed set of threads for file work whose waits can overlap: many small
// files read at once keep the disk's queue full, and flushes made at once
// are committed together. The calling thread keeps the order: it takes the
// results in listing order, whatever order they finish in, and does all that
// must happen in order (messages, registrations, replaces) itself.
#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "platform/failure.h"

namespace dsu::platform {

// Enough to keep a disk's queue full and its flushes batched; more gained
// nothing measurable (see bench/).
inline constexpr std::size_t kWorkThreads = 8;

class WorkPool {
  public:
    // No threads: InOrder then does all the work on the calling thread.
    explicit WorkPool(std::size_t threads = kWorkThreads);
    ~WorkPool();
    WorkPool(const WorkPool&) = delete;
    WorkPool& operator=(const WorkPool&) = delete;

    std::size_t Threads() const { return threads_.size(); }
    void Post(std::function<void()> task);

  private:
    void Work();

    std::mutex mutex_;
    std::condition_variable posted_;
    std::deque<std::function<void()>> tasks_;
    bool stopping_ = false;
    std::vector<std::thread> threads_;
};

// Runs prepare(i) for every i below `count` on the pool, at most a few runs
// of items per thread ahead of the one taken, and commit(i, result) on the calling
// thread in order of i. A prepare that throws throws at its turn, from the
// calling thread. `wait` runs on the calling thread while it waits.
//
// When commit throws (or a prepare's exception is rethrown), no further
// prepare starts, those under way are waited for, and for a Failure each
// result prepared but not committed goes to discard(result), which must not
// throw; then the exception goes on. The number of items in flight, and so
// of files open and buffers held, is bounded whatever `count` is.
template <class Result, class Prepare, class Commit, class Discard>
void InOrder(WorkPool& pool, std::size_t count, Prepare&& prepare, Commit&& commit,
             Discard&& discard, const std::function<void()>& wait = {}) {
    if (pool.Threads() == 0) {
        for (std::size_t i = 0; i < count; ++i) {
            Result result = prepare(i);
            commit(i, result);
        }
        return;
    }

    // Folders go to the threads in runs of a few, so that handing work over
    // costs little beside a warm read; a few runs per thread are in flight.
    const std::size_t threads = pool.Threads();
    const std::size_t run = std::clamp<std::size_t>(count / (threads * 16), 1, 8);
    const std::size_t runs = (count + run - 1) / run;
    const std::size_t runsAhead = std::min(runs, threads * 4);
    struct Slot {
        bool ready = false;
        std::optional<Result> result;
        std::exception_ptr error;
    };
    std::vector<Slot> ring(runsAhead * run);
    std::mutex mutex;
    std::condition_variable finished;
    std::size_t running = 0;
    bool stop = false;
    bool waiting = false;

    auto post = [&](std::size_t r) {
        {
            std::lock_guard lock(mutex);
            ++running;
        }
        pool.Post([&, r] {
            const std::size_t end = std::min(count, (r + 1) * run);
            for (std::size_t i = r * run; i < end; ++i) {
                bool skip;
                {
                    std::lock_guard lock(mutex);
                    skip = stop;
                }
                std::optional<Result> result;
                std::exception_ptr error;
                if (!skip) {
                    try {
                        result.emplace(prepare(i));
                    } catch (...) {
                        error = std::current_exception();
                    }
                }
                std::lock_guard lock(mutex);
                Slot& slot = ring[i % ring.size()];
                slot.ready = true;
                slot.result = std::move(result);
                slot.error = error;
                if (waiting) finished.notify_all();
            }
            // Notified under the lock: once it is released the caller may
            // return, and this frame's state is gone.
            std::lock_guard lock(mutex);
            --running;
            finished.notify_all();
        });
    };
    // Stops the work and waits for what is under way: the tasks refer to
    // this frame.
    auto drain = [&] {
        std::unique_lock lock(mutex);
        stop = true;
        finished.wait(lock, [&] { return running == 0; });
    };

    std::size_t taken = 0;
    try {
        for (std::size_t r = 0; r < runsAhead; ++r) post(r);
        for (; taken < count; ++taken) {
            Slot& slot = ring[taken % ring.size()];
            std::optional<Result> result;
            std::exception_ptr error;
            {
                std::unique_lock lock(mutex);
                waiting = true;
                while (!finished.wait_for(lock, std::chrono::milliseconds(20),
                                          [&] { return slot.ready; })) {
                    if (!wait) continue;
                    lock.unlock();
                    wait();
                    lock.lock();
                }
                waiting = false;
                slot.ready = false;
                result = std::move(slot.result);
                slot.result.reset();
                error = slot.error;
                slot.error = nullptr;
            }
            if (error) std::rethrow_exception(error);
            // The last of a run taken: its slots take the run that many ahead.
            if ((taken + 1) % run == 0 && (taken + 1) / run - 1 + runsAhead < runs)
                post((taken + 1) / run - 1 + runsAhead);
            commit(taken, *result);
        }
        // A run's task still ends after its last item was taken.
        std::unique_lock lock(mutex);
        finished.wait(lock, [&] { return running == 0; });
    } catch (const Failure&) {
        drain();
        for (Slot& slot : ring)
            if (slot.ready && slot.result) discard(*slot.result);
        throw;
    } catch (...) {
        drain();
        throw;
    }
}

}  // namespace dsu::platform

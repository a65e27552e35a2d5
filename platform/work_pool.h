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

// Runs prepare(i) for every i below `count` on the pool, at most a few items
// per thread ahead of the one taken, and commit(i, result) on the calling
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

    struct Slot {
        bool ready = false;
        std::optional<Result> result;
        std::exception_ptr error;
    };
    const std::size_t ahead = std::min<std::size_t>(count, pool.Threads() * 4);
    std::vector<Slot> ring(ahead);
    std::mutex mutex;
    std::condition_variable finished;
    std::size_t running = 0;
    bool stop = false;

    auto post = [&](std::size_t i) {
        {
            std::lock_guard lock(mutex);
            ++running;
        }
        pool.Post([&, i] {
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
            // Notified under the lock: once it is released the caller may
            // return, and this frame's state is gone.
            std::lock_guard lock(mutex);
            Slot& slot = ring[i % ahead];
            slot.ready = true;
            slot.result = std::move(result);
            slot.error = error;
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
        for (std::size_t i = 0; i < ahead; ++i) post(i);
        for (; taken < count; ++taken) {
            Slot& slot = ring[taken % ahead];
            std::optional<Result> result;
            std::exception_ptr error;
            {
                std::unique_lock lock(mutex);
                while (!finished.wait_for(lock, std::chrono::milliseconds(20),
                                          [&] { return slot.ready; })) {
                    if (!wait) continue;
                    lock.unlock();
                    wait();
                    lock.lock();
                }
                slot.ready = false;
                result = std::move(slot.result);
                slot.result.reset();
                error = slot.error;
                slot.error = nullptr;
            }
            if (error) std::rethrow_exception(error);
            if (taken + ahead < count) post(taken + ahead);
            commit(taken, *result);
        }
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

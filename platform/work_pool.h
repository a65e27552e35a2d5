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
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
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

class WorkPool {
  public:
    // No threads: InOrder then does all the work on the calling thread.
    explicit WorkPool(std::size_t threads);
    ~WorkPool();
    WorkPool(const WorkPool&) = delete;
    WorkPool& operator=(const WorkPool&) = delete;

    std::size_t Threads() const { return threads_.size(); }
    // Queues `copies` runs of `task`. One thread is woken here, and each that
    // takes a run wakes the next while runs are left: the system places a
    // thread woken by a running one on an idle processor, while a burst of
    // wake-ups from one thread tended to queue them all on the same one.
    void Post(const std::function<void()>& task, std::size_t copies = 1);

  private:
    void Work();

    std::mutex mutex_;
    std::condition_variable posted_;
    std::deque<std::function<void()>> tasks_;
    bool stopping_ = false;
    std::vector<std::thread> threads_;
};

// How far InOrder's pool may run ahead of the calling thread's commits.
enum class Ahead {
    // A window of a few dozen items a thread: for results that hold files or
    // disk space, such as a prepared descriptor.
    Window,
    // Every item: for small results (a flag, a kuid text), so that the pool
    // never waits on the calling thread, whose share of a busy processor
    // would otherwise set the pace.
    All,
};

// Runs prepare(i) for every i below `count` on the pool, no further ahead of
// the item taken than `ahead` allows, and commit(i, result) on the calling
// thread in order of i. A prepare that throws throws at its turn, from the
// calling thread. `wait` runs on the calling thread while it waits.
//
// When commit throws (or a prepare's exception is rethrown), no further
// prepare starts, those under way are waited for, and for a Failure each
// result prepared but not committed goes to discard(result), which must not
// throw; then the exception goes on. With Ahead::Window, the number of items
// in flight, and so of files open and buffers held, is bounded whatever
// `count` is; each thread holds at most one file open either way.
template <class Result, class Prepare, class Commit, class Discard>
void InOrder(WorkPool& pool, std::size_t count, Ahead ahead, Prepare&& prepare, Commit&& commit,
             Discard&& discard, const std::function<void()>& wait = {}) {
    if (pool.Threads() == 0) {
        for (std::size_t i = 0; i < count; ++i) {
            Result result = prepare(i);
            commit(i, result);
        }
        return;
    }

    // Each thread takes the next item itself, so that handing work over costs
    // an atomic add, not a wake-up; one slow cold read holds up only its own
    // item. A thread sleeps only when it is a window ahead of the calling
    // thread, and the calling thread only until a batch of items is ready.
    const std::size_t threads = std::min(pool.Threads(), count);
    const std::size_t bounded = std::min(count, pool.Threads() * 32);
    const std::size_t window = ahead == Ahead::All ? count : bounded;
    const std::size_t batch = std::max<std::size_t>(bounded / 8, 1);
    constexpr std::size_t kNone = static_cast<std::size_t>(-1);
    // A slot is written by one pool thread and then taken by the calling
    // thread; `ready` hands it over. Item i uses slot i % window.
    struct Slot {
        std::atomic<bool> ready = false;
        std::optional<Result> result;
        std::exception_ptr error;
    };
    std::vector<Slot> ring(window);
    std::atomic<std::size_t> next = 0;         // the next item to prepare
    std::atomic<std::size_t> taken = 0;        // items taken by the calling thread
    std::atomic<std::size_t> awaited = kNone;  // the item the calling thread sleeps on
    std::atomic<std::size_t> sleepers = 0;     // threads a window ahead
    std::atomic<bool> stop = false;
    std::mutex mutex;
    std::condition_variable itemReady;
    std::condition_variable room;
    std::condition_variable done;
    std::size_t running = threads;  // under `mutex`

    // Every pair of atomic operations that decides whether to sleep or to
    // wake is sequentially consistent: either the sleeper sees the change, or
    // the other side sees the sleeper and wakes it under the lock.
    auto work = [&] {
        for (;;) {
            const std::size_t i = next.fetch_add(1);
            if (i >= count || stop.load()) break;
            if (i >= taken.load() + window) {
                std::unique_lock lock(mutex);
                sleepers.fetch_add(1);
                room.wait(lock, [&] { return stop.load() || i < taken.load() + window; });
                sleepers.fetch_sub(1);
                if (stop.load()) break;
            }
            Slot& slot = ring[i % window];
            try {
                slot.result.emplace(prepare(i));
            } catch (...) {
                slot.error = std::current_exception();
            }
            slot.ready.store(true);
            if (awaited.load() == i) {
                std::lock_guard lock(mutex);
                itemReady.notify_one();
            }
        }
        // Notified under the lock: once it is released the caller may
        // return, and this frame's state is gone.
        std::lock_guard lock(mutex);
        if (--running == 0) done.notify_all();
    };
    // Threads a window ahead are woken a quarter window at a time, and
    // before the calling thread sleeps, so that they never wait on it while
    // it waits on them; waking them at every item woke them all each time.
    const std::size_t wakeEvery = std::max<std::size_t>(window / 4, 1);
    auto makeRoom = [&] {
        if (sleepers.load() == 0) return;
        std::lock_guard lock(mutex);
        room.notify_all();
    };
    auto awaitItem = [&](std::size_t i) {
        Slot& slot = ring[i % window];
        if (slot.ready.load()) return;
        makeRoom();
        std::unique_lock lock(mutex);
        awaited.store(i);
        while (!itemReady.wait_for(lock, std::chrono::milliseconds(20),
                                   [&] { return slot.ready.load(); })) {
            if (!wait) continue;
            lock.unlock();
            wait();
            lock.lock();
        }
        awaited.store(kNone);
    };
    // Stops the work and waits for what is under way: the tasks refer to
    // this frame.
    auto drain = [&] {
        stop.store(true);
        std::unique_lock lock(mutex);
        room.notify_all();
        done.wait(lock, [&] { return running == 0; });
    };

    try {
        pool.Post(work, threads);
        for (std::size_t i = 0; i < count; ++i) {
            Slot& slot = ring[i % window];
            if (!slot.ready.load()) {
                awaitItem(std::min(i + batch, count) - 1);
                awaitItem(i);
            }
            std::optional<Result> result = std::move(slot.result);
            const std::exception_ptr error = std::exchange(slot.error, nullptr);
            slot.result.reset();
            slot.ready.store(false);
            taken.store(i + 1);
            if ((i + 1) % wakeEvery == 0) makeRoom();
            if (error) std::rethrow_exception(error);
            commit(i, *result);
        }
        std::unique_lock lock(mutex);
        done.wait(lock, [&] { return running == 0; });
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

// Runs work(item) on the pool for every item of the batches that `list`
// hands to the function it is called with, from the first batch on: a large
// folder's items are worked while the rest of it is still being listed. The
// calling thread runs `list`, then waits for the work, running `wait`
// meanwhile. The items are worked in no set order, so this is for work whose
// outcome does not depend on it. When `list`, a work or `wait` throws, no
// further work starts, the work under way is waited for, and the exception
// goes on (the listing's first, as it came first).
template <class Item, class List, class Work>
void AsListed(WorkPool& pool, List&& list, Work&& work, const std::function<void()>& wait = {}) {
    using Batch = std::vector<Item>;
    using Found = std::function<void(Batch &&)>;
    if (pool.Threads() == 0) {
        list(Found([&](Batch&& batch) {
            for (Item& item : batch) work(item);
        }));
        return;
    }

    std::mutex mutex;
    std::condition_variable posted;  // items, the end of the listing, or a stop
    std::condition_variable done;
    std::deque<Item> queue;  // the rest under `mutex`
    bool listed = false;
    bool stop = false;
    std::exception_ptr workError;
    bool started = false;
    std::size_t running = 0;

    // Each thread that takes an item wakes the next while items are left,
    // rather than the listing waking them all at each batch.
    auto run = [&] {
        std::unique_lock lock(mutex);
        for (;;) {
            posted.wait(lock, [&] { return stop || listed || !queue.empty(); });
            if (stop || queue.empty()) break;
            Item item = std::move(queue.front());
            queue.pop_front();
            if (!queue.empty()) posted.notify_one();
            lock.unlock();
            try {
                work(item);
            } catch (...) {
                lock.lock();
                if (!workError) workError = std::current_exception();
                stop = true;
                posted.notify_all();
                continue;
            }
            lock.lock();
        }
        // Notified under the lock: once it is released the caller may
        // return, and this frame's state is gone.
        if (--running == 0) done.notify_all();
    };

    std::exception_ptr listError;
    try {
        list(Found([&](Batch&& batch) {
            bool start = false;
            {
                std::lock_guard lock(mutex);
                if (stop || batch.empty()) return;
                for (Item& item : batch) queue.push_back(std::move(item));
                start = !std::exchange(started, true);
                if (start) running = pool.Threads();
                posted.notify_one();
            }
            // The pool starts with the first batch: started before it, its
            // threads would only go back to sleep until then.
            if (start) pool.Post(run, pool.Threads());
        }));
    } catch (...) {
        listError = std::current_exception();
    }
    std::unique_lock lock(mutex);
    listed = true;
    if (listError) stop = true;
    posted.notify_all();
    // The work refers to this frame: it is waited for even when `wait` throws.
    std::exception_ptr waitError;
    while (!done.wait_for(lock, std::chrono::milliseconds(20), [&] { return running == 0; })) {
        if (!wait || waitError) continue;
        lock.unlock();
        try {
            wait();
        } catch (...) {
            waitError = std::current_exception();
        }
        lock.lock();
        if (waitError) stop = true;
    }
    for (const std::exception_ptr& error : {listError, waitError, workError})
        if (error) std::rethrow_exception(error);
}

}  // namespace dsu::platform

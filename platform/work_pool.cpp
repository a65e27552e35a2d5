#include "platform/work_pool.h"

#include <exception>

#ifndef _WIN32
#include <signal.h>
#endif

namespace dsu::platform {

namespace {
// While it lives, the signals that ask the program to stop are blocked on the
// calling thread, and so in every thread it starts: they come to the thread
// that keeps the order, in step with its work, and cut no pool call short.
class StopSignalsBlocked {
#ifndef _WIN32
  public:
    StopSignalsBlocked() {
        sigset_t stops;
        sigemptyset(&stops);
        for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) sigaddset(&stops, signal);
        pthread_sigmask(SIG_BLOCK, &stops, &before_);
    }
    ~StopSignalsBlocked() { pthread_sigmask(SIG_SETMASK, &before_, nullptr); }
    StopSignalsBlocked(const StopSignalsBlocked&) = delete;
    StopSignalsBlocked& operator=(const StopSignalsBlocked&) = delete;

  private:
    sigset_t before_;
#endif
};
}  // namespace

WorkPool::WorkPool(std::size_t threads) {
    [[maybe_unused]] const StopSignalsBlocked blocked;
    try {
        threads_.reserve(threads);
        for (std::size_t i = 0; i < threads; ++i) threads_.emplace_back([this] { Work(); });
    } catch (const std::exception&) {
        // A thread the system cannot start (std::system_error, or bad_alloc
        // for want of memory): fewer do the same work, only more slowly.
    }
}

WorkPool::~WorkPool() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    posted_.notify_all();
    for (std::thread& thread : threads_) thread.join();
}

void WorkPool::Post(std::function<void()> task) {
    if (threads_.empty()) return task();
    {
        std::lock_guard lock(mutex_);
        tasks_.push_back(std::move(task));
    }
    posted_.notify_one();
}

void WorkPool::Work() {
    for (;;) {
        std::function<void()> task;
        bool more = false;
        {
            std::unique_lock lock(mutex_);
            posted_.wait(lock, [this] { return stopping_ || !tasks_.empty(); });
            if (tasks_.empty()) return;
            task = std::move(tasks_.front());
            tasks_.pop_front();
            more = !tasks_.empty();
        }
        if (more) posted_.notify_one();
        task();
    }
}

}  // namespace dsu::platform

#include "platform/work_pool.h"

#include <exception>

namespace dsu::platform {

WorkPool::WorkPool(std::size_t threads) {
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

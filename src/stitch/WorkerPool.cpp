#include "stitch/WorkerPool.h"

#include <algorithm>
#include <utility>

namespace quiltara {

WorkerPool::WorkerPool(unsigned count) {
    if (count == 0) {
        count = std::max(1u, std::thread::hardware_concurrency());
    }
    threads_.reserve(count);
    try {
        for (unsigned i = 0; i < count; ++i) {
            threads_.emplace_back([this] { Work(); });
        }
    } catch (...) {
        // A joinable thread destroyed in the unwinding would end the process:
        // the ones running are stopped and joined before the failure is told.
        Stop();
        throw;
    }
}

WorkerPool::~WorkerPool() {
    Stop();
}

void WorkerPool::Stop() noexcept {
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
        unfinished_ -= urgent_.size() + normal_.size();
        urgent_.clear();
        normal_.clear();
    }
    wake_.notify_all();
    for (std::thread& thread : threads_) {
        if (thread.joinable()) {
            thread.join();
        }
    }
}

void WorkerPool::Post(std::function<void()> task, bool urgent) {
    {
        const std::lock_guard lock(mutex_);
        (urgent ? urgent_ : normal_).push_back(std::move(task));
        ++unfinished_;
    }
    wake_.notify_one();
}

void WorkerPool::Wait() {
    std::exception_ptr failure;
    {
        std::unique_lock lock(mutex_);
        idle_.wait(lock, [this] { return unfinished_ == 0; });
        failure = std::exchange(failure_, nullptr);
    }
    if (failure) {
        std::rethrow_exception(failure);
    }
}

bool WorkerPool::TaskFailed() {
    const std::lock_guard lock(mutex_);
    return failure_ != nullptr;
}

void WorkerPool::Work() {
    for (;;) {
        std::function<void()> task;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return stopping_ || !urgent_.empty() || !normal_.empty(); });
            if (stopping_) {
                return;
            }
            std::deque<std::function<void()>>& queue = urgent_.empty() ? normal_ : urgent_;
            task = std::move(queue.front());
            queue.pop_front();
        }
        std::exception_ptr failure;
        try {
            task();
        } catch (...) {
            failure = std::current_exception();
        }
        task = nullptr; // what the task holds goes before Wait() returns
        bool idle = false;
        {
            const std::lock_guard lock(mutex_);
            if (failure && !failure_) {
                failure_ = failure;
            }
            idle = --unfinished_ == 0;
        }
        if (idle) {
            idle_.notify_all();
        }
    }
}

} // namespace quiltara

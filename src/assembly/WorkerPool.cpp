#include "assembly/WorkerPool.h"

#include <algorithm>
#include <utility>

namespace quiltara {

WorkerPool::WorkerPool(unsigned count) {
    if (count == 0) {
        count = std::max(1u, std::thread::hardware_concurrency());
    }
    threads_.reserve(count);
    for (unsigned i = 0; i < count; ++i) {
        threads_.emplace_back([this] { Work(); });
    }
}

WorkerPool::~WorkerPool() {
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
        urgent_.clear();
        normal_.clear();
    }
    wake_.notify_all();
    for (std::thread& thread : threads_) {
        thread.join();
    }
}

void WorkerPool::Post(std::function<void()> task, bool urgent) {
    {
        const std::lock_guard lock(mutex_);
        (urgent ? urgent_ : normal_).push_back(std::move(task));
    }
    wake_.notify_one();
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
        task();
    }
}

} // namespace quiltara

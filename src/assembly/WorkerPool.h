#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace quiltara {

// A fixed set of threads taking tasks from a queue. Urgent tasks go before
// the others, each kind in the order posted. The destructor lets the
// threads finish the task in hand, drops the rest, and joins them.
class WorkerPool {
public:
    // count 0: one thread per core.
    explicit WorkerPool(unsigned count);
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;
    ~WorkerPool();

    void Post(std::function<void()> task, bool urgent);
    unsigned Size() const { return static_cast<unsigned>(threads_.size()); }

private:
    void Work();

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> urgent_;
    std::deque<std::function<void()>> normal_;
    bool stopping_ = false;
    std::vector<std::thread> threads_;
};

} // namespace quiltara

#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace quiltara {

// A fixed set of threads taking tasks from a queue. Urgent tasks go before
// the others, each kind in the order posted. The destructor lets the
// threads finish the task in hand, drops the rest, and joins them.
//
// A task that throws (a bad_alloc under memory pressure) ends neither its
// thread nor the process: the first such exception is kept and thrown again
// from Wait() on the caller's thread; the tasks after it still run.
class WorkerPool {
public:
    // count 0: one thread per core. Throws std::system_error when not even
    // one thread can be started, or when a later one cannot and the threads
    // already running have been joined again.
    explicit WorkerPool(unsigned count);
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;
    ~WorkerPool();

    void Post(std::function<void()> task, bool urgent);
    unsigned Size() const { return static_cast<unsigned>(threads_.size()); }

    // Blocks until every task posted so far has ended, then throws the first
    // exception a task let out since the last Wait(), if any.
    void Wait();

    // Whether a task has let out an exception that Wait() has not yet thrown.
    bool TaskFailed();

private:
    void Work();
    void Stop() noexcept;

    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable idle_;
    std::deque<std::function<void()>> urgent_;
    std::deque<std::function<void()>> normal_;
    std::size_t unfinished_ = 0; // queued or running
    std::exception_ptr failure_;
    bool stopping_ = false;
    std::vector<std::thread> threads_;
};

} // namespace quiltara

#pragma once

#include <atomic>

namespace quiltara {

// A request to stop a create-map run, made from another thread (a Cancel
// button) or from a signal handler, and looked at by the run between tiles.
class CancelFlag {
public:
    void Request() noexcept { requested_.store(true, std::memory_order_relaxed); }
    bool Requested() const noexcept { return requested_.load(std::memory_order_relaxed); }
    void Clear() noexcept { requested_.store(false, std::memory_order_relaxed); }

private:
    // A signal handler may only touch a lock-free atomic.
    static_assert(std::atomic<bool>::is_always_lock_free);
    std::atomic<bool> requested_{false};
};

} // namespace quiltara

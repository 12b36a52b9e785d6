#include "platform/RequestPacer.h"

#include <algorithm>

namespace quiltara {

RequestPacer::RequestPacer(double requestsPerSecond)
    : requestsPerSecond_(requestsPerSecond),
      interval_(std::chrono::duration_cast<Clock::duration>(
          std::chrono::duration<double>(1.0 / requestsPerSecond))) {}

RequestPacer::Clock::time_point RequestPacer::Reserve() {
    const Clock::time_point now = Clock::now();
    std::lock_guard<std::mutex> lock(mutex_);
    // A pause in the run (a question, a stitch) earns no burst afterwards.
    const Clock::time_point slot = std::max(now, next_);
    next_ = slot + interval_;
    return slot;
}

} // namespace quiltara

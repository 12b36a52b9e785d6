#pragma once

#include <chrono>
#include <mutex>

namespace quiltara {

// Keeps the requests of a run to a service under its rate, whatever the
// number of connections sending them: each request takes the next free
// moment, one interval after the one taken before it, so the requests go
// out evenly spaced rather than in bursts. Safe to use from several threads.
class RequestPacer {
public:
    using Clock = std::chrono::steady_clock;

    // requestsPerSecond above 0.
    explicit RequestPacer(double requestsPerSecond);

    double RequestsPerSecond() const { return requestsPerSecond_; }

    // Takes the next moment a request may be sent (now, when that is free)
    // and returns it; the caller waits until then before sending.
    Clock::time_point Reserve();

private:
    double requestsPerSecond_;
    Clock::duration interval_;
    std::mutex mutex_;
    Clock::time_point next_{};
};

} // namespace quiltara

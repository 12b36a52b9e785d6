#include "platform/PoliteHttpClient.h"

#include <algorithm>
#include <thread>

namespace quiltara {
namespace {

// The caller's sink, abandoned once the run is stopping.
class StoppableSink : public HttpBodySink {
public:
    StoppableSink(HttpBodySink& sink, const std::function<bool()>& stop)
        : sink_(sink), stop_(stop) {}
    void WriteBlock(std::span<const std::byte> block) override { sink_.WriteBlock(block); }
    bool StopRequested() const noexcept override {
        return sink_.StopRequested() || (stop_ && stop_());
    }

private:
    HttpBodySink& sink_;
    const std::function<bool()>& stop_;
};

} // namespace

HttpResult PoliteHttpClient::Get(const std::string& url,
                                 const std::vector<std::string>& headerLines, HttpBodySink& sink) {
    if (notBefore_) {
        const auto until = *notBefore_;
        notBefore_.reset();
        constexpr std::chrono::milliseconds kSlice{100};
        for (auto now = std::chrono::steady_clock::now(); now < until;
             now = std::chrono::steady_clock::now()) {
            if (whileWaiting_) {
                whileWaiting_(url);
            }
            if (giveUpWaiting_ && giveUpWaiting_()) {
                throw RequestWithdrawn(url);
            }
            std::this_thread::sleep_for(
                std::min<std::chrono::steady_clock::duration>(until - now, kSlice));
        }
    }
    StoppableSink stoppable(sink, giveUpWaiting_);
    HttpResult result = connection_.Get(url, headerLines, stoppable);
    const bool askedToWait = result.status == 429 || result.status == 503;
    if (askedToWait && result.retryAfter && result.retryAfter->count() > 0) {
        // A server asking for hours (or one sending nonsense) must not stall
        // the run for good; a minute is patient enough.
        notBefore_ = std::chrono::steady_clock::now() + std::min(*result.retryAfter, kLongestWait);
    }
    return result;
}

} // namespace quiltara

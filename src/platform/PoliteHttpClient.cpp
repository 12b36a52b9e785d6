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

void PoliteHttpClient::Wait(const std::string& url, std::chrono::steady_clock::time_point until) {
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

HttpResult PoliteHttpClient::Get(const std::string& url,
                                 const std::vector<std::string>& headerLines, HttpBodySink& sink) {
    if (notBefore_) {
        const auto until = *notBefore_;
        notBefore_.reset();
        Wait(url, until);
    }
    if (busyAnswers_ > 0 && url == busyUrl_) {
        // The server named no pause: ours grows with each busy answer, within
        // the longest wait.
        const auto pause = std::min<std::chrono::steady_clock::duration>(
            kFirstBusyPause * (1LL << std::min(busyAnswers_ - 1, 16)), kLongestWait);
        Wait(url, std::chrono::steady_clock::now() + pause);
    }
    if (pacer_ != nullptr) {
        // Last, so that the moment reserved is the moment the request goes.
        Wait(url, pacer_->Reserve());
    }
    StoppableSink stoppable(sink, giveUpWaiting_);
    HttpResult result = connection_.Get(url, headerLines, stoppable);
    const bool busy = result.status == 429 || result.status == 503;
    if (busy && result.retryAfter) {
        if (WaitsFor(*result.retryAfter)) {
            notBefore_ = std::chrono::steady_clock::now() + *result.retryAfter;
        }
        busyAnswers_ = 0;
    } else if (busy) {
        busyAnswers_ = url == busyUrl_ ? busyAnswers_ + 1 : 1;
        busyUrl_ = url;
    } else {
        busyAnswers_ = 0;
    }
    return result;
}

} // namespace quiltara

#include "platform/PoliteHttpClient.h"

#include <algorithm>
#include <thread>

namespace quiltara {

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
    HttpResult result = connection_.Get(url, headerLines, sink);
    const bool askedToWait = result.status == 429 || result.status == 503;
    if (askedToWait && result.retryAfter && result.retryAfter->count() > 0) {
        // A server asking for hours (or one sending nonsense) must not stall
        // the run for good; a minute is patient enough.
        notBefore_ = std::chrono::steady_clock::now() + std::min(*result.retryAfter, kLongestWait);
    }
    return result;
}

} // namespace quiltara

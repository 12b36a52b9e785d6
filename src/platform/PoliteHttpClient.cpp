#include "platform/PoliteHttpClient.h"

#include <algorithm>
#include <thread>

namespace quiltara {

HttpResult PoliteHttpClient::Get(const std::string& url,
                                 const std::vector<std::string>& headerLines, HttpBodySink& sink) {
    if (notBefore_) {
        std::this_thread::sleep_until(*notBefore_);
        notBefore_.reset();
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

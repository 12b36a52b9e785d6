#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>

#include "platform/HttpClient.h"
#include "platform/RequestPacer.h"

namespace quiltara {

// The client of one connection, made patient: after an answer 429 (too many
// requests) or 503 (unavailable) that carries Retry-After, the next request
// on this connection waits as long as the server asked, when that is no
// more than kLongestWait (a longer wait is not sat out: the caller gives the
// request up). After such an answer without a usable Retry-After, asking
// for the same URL again waits kFirstBusyPause, twice that the next time,
// and so on. What is requested next, and in which order, stays the caller's
// business.
class PoliteHttpClient : public HttpClient {
public:
    static constexpr std::chrono::seconds kLongestWait{60};
    static constexpr std::chrono::milliseconds kFirstBusyPause{500};

    // Whether a Retry-After of this length is waited for.
    static constexpr bool WaitsFor(std::chrono::seconds asked) { return asked <= kLongestWait; }

    // whileWaiting, when given, is called with the URL about every tenth of
    // a second during such a wait; it throws to abandon the wait (a program
    // that is closing must not sit out a minute first). Once giveUpWaiting
    // answers true, a wait ends without its request and a transfer under
    // way is abandoned: Get throws RequestWithdrawn (a stopped run sits out
    // neither the minute nor a stalled tile). giveUpWaiting must not throw.
    // pacer, when given, is shared by every connection of the run: each
    // request waits for the moment it reserves there, like any other wait.
    explicit PoliteHttpClient(HttpClient& connection,
                              std::function<void(const std::string& url)> whileWaiting = {},
                              std::function<bool()> giveUpWaiting = {},
                              RequestPacer* pacer = nullptr)
        : connection_(connection),
          whileWaiting_(std::move(whileWaiting)),
          giveUpWaiting_(std::move(giveUpWaiting)),
          pacer_(pacer) {}

    HttpResult Get(const std::string& url, const std::vector<std::string>& headerLines,
                   HttpBodySink& sink) override;

private:
    // Sits out the wait before a request for url.
    void Wait(const std::string& url, std::chrono::steady_clock::time_point until);

    HttpClient& connection_;
    std::function<void(const std::string& url)> whileWaiting_;
    std::function<bool()> giveUpWaiting_;
    RequestPacer* pacer_;
    std::optional<std::chrono::steady_clock::time_point> notBefore_;
    // The URL last answered busy without a usable Retry-After, and how many
    // times in a row.
    std::string busyUrl_;
    int busyAnswers_ = 0;
};

} // namespace quiltara

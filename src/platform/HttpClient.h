#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace quiltara {

// Receives a response body block by block, as it arrives.
class HttpBodySink {
public:
    virtual ~HttpBodySink() = default;

    // One block of the body, never more than HttpClient::kMaxBlockSize bytes.
    // An exception thrown here aborts the transfer and leaves Get() unchanged.
    virtual void WriteBlock(std::span<const std::byte> block) = 0;

    // Asked while the transfer is under way (at least about once a second,
    // whether data comes or not); true abandons it at once, and Get() throws
    // RequestWithdrawn. Must not throw.
    virtual bool StopRequested() const noexcept { return false; }
};

// How a GET ended once an answer had begun to arrive.
struct HttpResult {
    long status = 0;                  // the HTTP status of the final answer
    unsigned long long bodyBytes = 0; // bytes handed to the sink
    bool complete = false; // false: the server closed before the announced end of the body
    // The pause the server asked for with Retry-After (seconds or a date),
    // when the answer carries one that lies in the future.
    std::optional<std::chrono::seconds> retryAfter;
};

// A request could not be made or answered: unknown host, refused connection,
// a connection closed without any answer, a malformed or unsupported URL, or
// a server that stopped sending (connect and low-speed timeouts).
class HttpConnectionError : public std::runtime_error {
public:
    HttpConnectionError(std::string url, std::string reason)
        : std::runtime_error("Cannot open '" + url + "': " + reason),
          url_(std::move(url)),
          reason_(std::move(reason)) {}

    const std::string& Url() const { return url_; }
    const std::string& Reason() const { return reason_; }

private:
    std::string url_;
    std::string reason_;
};

// A request that could not be made through its proxy: the proxy cannot be
// reached, refuses the connection to the server, or wants credentials (407).
// Reason() is a whole sentence naming the proxy, its user name and password
// masked.
class HttpProxyError : public HttpConnectionError {
public:
    HttpProxyError(std::string url, std::string reason)
        : HttpConnectionError(std::move(url), std::move(reason)) {}
};

// A request given up because the run is stopping: before it was sent (a
// Retry-After wait cut short) or during its transfer. What came of the body
// is not to be used.
class RequestWithdrawn : public std::runtime_error {
public:
    explicit RequestWithdrawn(const std::string& url)
        : std::runtime_error("request withdrawn: " + url) {}
};

// One blocking GET at a time, with extra header lines, streaming the body of
// whatever status comes back into a sink. Redirects are followed, the header
// lines going only to the host of the URL asked for; no cache is used.
// Which proxy carries the requests is the implementation's business.
class HttpClient {
public:
    static constexpr std::size_t kMaxBlockSize = 32768;

    virtual ~HttpClient() = default;

    // headerLines: complete lines without line ends ("Accept: image/png"),
    // sent in this order. Throws HttpConnectionError when no answer comes or
    // the server stops sending; an exception from the sink passes through.
    virtual HttpResult Get(const std::string& url, const std::vector<std::string>& headerLines,
                           HttpBodySink& sink) = 0;
};

} // namespace quiltara

#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "UniqueFd.h"

namespace quiltara::test {

// A forward HTTP proxy on a free port of 127.0.0.1, for as long as the object
// lives. It takes absolute-form requests ("GET http://host:port/path ...")
// one connection at a time and answers each on a connection of its own:
// forwarded, with the origin-form target, to 127.0.0.1:upstreamPort (the
// demo server, whatever host the request names), or answered 407.
class TestProxy {
public:
    // Forwards every request; with credentials ("user:secret"), only those
    // that carry them as Basic Proxy-Authorization, the others get 407.
    explicit TestProxy(int upstreamPort, std::string credentials = "");
    // Answers every request, CONNECT included, with 407.
    static TestProxy AskingForCredentials() { return TestProxy(0, "", true); }
    ~TestProxy();
    TestProxy(TestProxy&& other) = delete;
    TestProxy& operator=(const TestProxy&) = delete;

    int Port() const { return port_; }
    // "http://127.0.0.1:PORT"
    std::string Url() const;
    // The request lines of the requests forwarded so far ("GET http://... HTTP/1.1").
    std::vector<std::string> Forwarded() const;
    // How many requests came, forwarded or not.
    int Received() const { return received_; }

private:
    TestProxy(int upstreamPort, std::string credentials, bool askAlways);
    void Serve();
    void Answer(int client);

    int upstreamPort_;
    std::string expectedAuthorization_; // empty: none asked for
    bool askAlways_;
    UniqueFd listener_;
    UniqueFd wakeRead_;
    UniqueFd wakeWrite_;
    int port_ = 0;
    std::atomic<int> received_{0};
    mutable std::mutex mutex_;
    std::vector<std::string> forwarded_;
    std::thread thread_;
};

// A port of 127.0.0.1 where nothing accepts connections, kept so for as long
// as the object lives (bound, never listening): a proxy that refuses.
class RefusingPort {
public:
    RefusingPort();
    int Port() const { return port_; }
    std::string Url() const;

private:
    UniqueFd socket_;
    int port_ = 0;
};

} // namespace quiltara::test

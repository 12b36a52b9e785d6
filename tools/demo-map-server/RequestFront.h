#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <set>
#include <string>

namespace demomap {

// The relayed connections whose client has gone, each known by the port of
// the relay's own connection to the HTTP server (the remote port the server
// sees). A tile answer that holds its connection open on purpose (a stall)
// watches this to let go once nobody waits for it.
class GoneClients {
public:
    void Opened(int port);
    void Gone(int port);
    bool IsGone(int port) const;

private:
    mutable std::mutex mutex_;
    std::set<int> gone_;
};

// The service's public port. It accepts each connection itself and relays it
// to the HTTP server behind it, reading every request head on the way: that
// is the only place where the request line and the header lines are still in
// the order the client sent them (the HTTP library keeps headers sorted by
// name), and where a connection can be closed without any answer, the way a
// refusing server behaves, or reset, the way a crashing one does.
class RequestFront {
public:
    struct Options {
        std::string logPath;         // empty: no request log
        std::set<int> refuseServers; // server numbers whose connections are closed unanswered
        bool logArrivals = false;    // note each request's connection and arrival time
        std::shared_ptr<GoneClients> goneClients; // told when each relayed client goes
        std::set<std::string> resetTiles;         // "z/x/y": their connections are reset unanswered
        // Counts every byte of every answer relayed to a client, heads included.
        std::shared_ptr<std::atomic<std::uint64_t>> sentBytes;
    };

    RequestFront(int backendPort, Options options);
    ~RequestFront();
    RequestFront(const RequestFront&) = delete;
    RequestFront& operator=(const RequestFront&) = delete;

    // Binds 127.0.0.1:port (0 picks a free port) and returns the port bound.
    int Listen(int port);

    // Accepts connections until the process ends; each is relayed on its own thread.
    [[noreturn]] void Run();

private:
    struct FileCloser {
        void operator()(std::FILE* file) const { std::fclose(file); }
    };

    enum class Admission { Relay, Close, Reset };

    void Relay(int clientFd, unsigned long connection);
    // Logs one request head and says what becomes of its connection.
    Admission AdmitRequest(const std::string& head, unsigned long connection);

    int backendPort_;
    Options options_;
    int listenFd_ = -1;
    std::chrono::steady_clock::time_point started_ = std::chrono::steady_clock::now();
    std::mutex logMutex_;
    std::unique_ptr<std::FILE, FileCloser> log_;
};

} // namespace demomap

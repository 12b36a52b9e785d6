#include "RequestFront.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstring>
#include <stdexcept>
#include <thread>

#include "TileRequest.h"

namespace demomap {
namespace {

// Owns one socket descriptor.
class Socket {
public:
    explicit Socket(int fd) : fd_(fd) {}
    ~Socket() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    int Fd() const { return fd_; }

private:
    int fd_;
};

void NoDelay(int fd) {
    // Request heads and tiles are small; without this each relayed write can
    // wait for the peer's delayed acknowledgement.
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

bool SendAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t sent = ::send(fd, data, size, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR) {
            continue;
        }
        if (sent <= 0) {
            return false;
        }
        data += sent;
        size -= static_cast<size_t>(sent);
    }
    return true;
}

int ConnectLoopback(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return -1;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    NoDelay(fd);
    return fd;
}

// The value of a header in a request head, name matched without case.
std::string HeaderValue(const std::string& head, const char* name) {
    const size_t nameLength = std::strlen(name);
    size_t start = head.find("\r\n");
    while (start != std::string::npos && start + 2 < head.size()) {
        start += 2;
        const size_t end = head.find("\r\n", start);
        const std::string line = head.substr(start, end - start);
        if (line.size() > nameLength && line[nameLength] == ':' &&
            ::strncasecmp(line.c_str(), name, nameLength) == 0) {
            const size_t value = line.find_first_not_of(" \t", nameLength + 1);
            return value == std::string::npos ? std::string() : line.substr(value);
        }
        start = end;
    }
    return {};
}

size_t ContentLength(const std::string& head) {
    const std::string text = HeaderValue(head, "Content-Length");
    size_t length = 0;
    std::from_chars(text.data(), text.data() + text.size(), length);
    return length;
}

int LocalPort(int fd) {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return -1;
    }
    return ntohs(address.sin_port);
}

// Marks the relay's backend connection as Gone() when the relay ends, for
// whatever reason it ends.
class GoneOnExit {
public:
    GoneOnExit(GoneClients* clients, int port) : clients_(clients), port_(port) {
        if (clients_ != nullptr) {
            clients_->Opened(port_);
        }
    }
    ~GoneOnExit() {
        if (clients_ != nullptr) {
            clients_->Gone(port_);
        }
    }
    GoneOnExit(const GoneOnExit&) = delete;
    GoneOnExit& operator=(const GoneOnExit&) = delete;

private:
    GoneClients* clients_;
    int port_;
};

} // namespace

void GoneClients::Opened(int port) {
    // A port is used again by later connections: only the newest one counts.
    std::lock_guard<std::mutex> lock(mutex_);
    gone_.erase(port);
}

void GoneClients::Gone(int port) {
    std::lock_guard<std::mutex> lock(mutex_);
    gone_.insert(port);
}

bool GoneClients::IsGone(int port) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return gone_.count(port) != 0;
}

RequestFront::RequestFront(int backendPort, Options options)
    : backendPort_(backendPort), options_(std::move(options)) {
    if (!options_.logPath.empty()) {
        // Appended to: a log shared by several runs keeps every run's requests.
        log_.reset(std::fopen(options_.logPath.c_str(), "a"));
        if (!log_) {
            throw std::runtime_error("cannot write the request log " + options_.logPath + ": " +
                                     std::strerror(errno));
        }
    }
}

RequestFront::~RequestFront() {
    if (listenFd_ >= 0) {
        ::close(listenFd_);
    }
}

int RequestFront::Listen(int port) {
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listenFd_ < 0) {
        throw std::runtime_error(std::string("socket: ") + std::strerror(errno));
    }
    const int on = 1;
    ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listenFd_, 128) != 0) {
        throw std::runtime_error("cannot listen on 127.0.0.1:" + std::to_string(port) + ": " +
                                 std::strerror(errno));
    }
    socklen_t length = sizeof address;
    ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length);
    return ntohs(address.sin_port);
}

void RequestFront::Run() {
    for (unsigned long connection = 1;; ++connection) {
        const int client = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) {
            // Out of descriptors or an aborted connection: try again shortly.
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            continue;
        }
        NoDelay(client);
        std::thread([this, client, connection] { Relay(client, connection); }).detach();
    }
}

RequestFront::Admission RequestFront::AdmitRequest(const std::string& head,
                                                   unsigned long connection) {
    if (log_) {
        // The head as received, ending in its blank line: one record per request.
        std::lock_guard<std::mutex> lock(logMutex_);
        if (options_.logArrivals) {
            const auto since = std::chrono::steady_clock::now() - started_;
            const long long ms =
                std::chrono::duration_cast<std::chrono::milliseconds>(since).count();
            const std::string lines = head.substr(0, head.size() - 2);
            std::fprintf(log_.get(), "%sX-Demo-Arrival: %lu %lld\r\n\r\n", lines.c_str(),
                         connection, ms);
        } else {
            std::fwrite(head.data(), 1, head.size(), log_.get());
        }
        std::fflush(log_.get());
    }
    const int server = ServerNumberFromHost(HeaderValue(head, "Host"));
    if (options_.refuseServers.count(server) != 0) {
        return Admission::Close;
    }
    const size_t targetStart = head.find(' ') + 1;
    const std::optional<TileRequest> tile = ParseTileRequest(
        std::string_view(head).substr(targetStart, head.find(' ', targetStart) - targetStart));
    if (tile &&
        options_.resetTiles.count(std::to_string(tile->zoom) + "/" + std::to_string(tile->x) + "/" +
                                  std::to_string(tile->y)) != 0) {
        return Admission::Reset;
    }
    return Admission::Relay;
}

void RequestFront::Relay(int clientFd, unsigned long connection) {
    Socket client(clientFd);
    Socket backend(ConnectLoopback(backendPort_));
    if (backend.Fd() < 0) {
        return;
    }
    const GoneOnExit watch(options_.goneClients.get(), LocalPort(backend.Fd()));
    std::string pending;      // bytes from the client not yet relayed
    size_t bodyRemaining = 0; // request body bytes still to pass through unread
    char buffer[65536];
    pollfd fds[2] = {{client.Fd(), POLLIN, 0}, {backend.Fd(), POLLIN, 0}};
    for (;;) {
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        if (fds[1].revents != 0) {
            const ssize_t got = ::recv(backend.Fd(), buffer, sizeof buffer, 0);
            if (got <= 0 || !SendAll(client.Fd(), buffer, static_cast<size_t>(got))) {
                return;
            }
            if (options_.sentBytes) {
                *options_.sentBytes += static_cast<std::uint64_t>(got);
            }
        }
        if (fds[0].revents == 0) {
            continue;
        }
        const ssize_t got = ::recv(client.Fd(), buffer, sizeof buffer, 0);
        if (got <= 0) {
            return;
        }
        pending.append(buffer, static_cast<size_t>(got));
        for (;;) {
            if (bodyRemaining > 0) {
                const size_t pass = std::min(bodyRemaining, pending.size());
                if (!SendAll(backend.Fd(), pending.data(), pass)) {
                    return;
                }
                pending.erase(0, pass);
                bodyRemaining -= pass;
                if (bodyRemaining > 0) {
                    break;
                }
            }
            const size_t end = pending.find("\r\n\r\n");
            if (end == std::string::npos) {
                if (pending.size() > 65536) {
                    return; // not HTTP
                }
                break;
            }
            const std::string head = pending.substr(0, end + 4);
            pending.erase(0, end + 4);
            const Admission admission = AdmitRequest(head, connection);
            if (admission == Admission::Reset) {
                // Closing with a zero linger time sends RST rather than FIN.
                const linger abort = {1, 0};
                ::setsockopt(client.Fd(), SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
            }
            if (admission != Admission::Relay) {
                return; // closed with no answer at all
            }
            if (!SendAll(backend.Fd(), head.data(), head.size())) {
                return;
            }
            bodyRemaining = ContentLength(head);
        }
    }
}

} // namespace demomap

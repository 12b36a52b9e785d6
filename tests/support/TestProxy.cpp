#include "TestProxy.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string_view>

namespace quiltara::test {
namespace {

// How long one connection may take to send its head or to be answered.
constexpr int kIoTimeoutMs = 10000;

std::string Base64(std::string_view text) {
    static constexpr char kDigits[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string coded;
    for (std::size_t i = 0; i < text.size(); i += 3) {
        unsigned value = static_cast<unsigned char>(text[i]) << 16;
        if (i + 1 < text.size()) {
            value |= static_cast<unsigned char>(text[i + 1]) << 8;
        }
        if (i + 2 < text.size()) {
            value |= static_cast<unsigned char>(text[i + 2]);
        }
        coded += kDigits[(value >> 18) & 63];
        coded += kDigits[(value >> 12) & 63];
        coded += i + 1 < text.size() ? kDigits[(value >> 6) & 63] : '=';
        coded += i + 2 < text.size() ? kDigits[value & 63] : '=';
    }
    return coded;
}

sockaddr_in Loopback(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

// A TCP socket bound to a free port of 127.0.0.1, and that port.
int BoundSocket(UniqueFd& socketFd) {
    socketFd.Reset(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address = Loopback(0);
    socklen_t length = sizeof address;
    if (socketFd.Get() < 0 ||
        ::bind(socketFd.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::getsockname(socketFd.Get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        throw std::runtime_error(std::string("test proxy socket: ") + std::strerror(errno));
    }
    return ntohs(address.sin_port);
}

bool Readable(int fd) {
    pollfd wait{fd, POLLIN, 0};
    return ::poll(&wait, 1, kIoTimeoutMs) > 0;
}

bool SendAll(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t sent = ::send(fd, data.data(), data.size(), MSG_NOSIGNAL);
        if (sent <= 0) {
            return false;
        }
        data.remove_prefix(static_cast<std::size_t>(sent));
    }
    return true;
}

// The request head up to its blank line; empty when none came in time.
std::string ReadHead(int fd) {
    std::string head;
    char buffer[4096];
    while (head.find("\r\n\r\n") == std::string::npos && Readable(fd)) {
        const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
        if (got <= 0) {
            return {};
        }
        head.append(buffer, static_cast<std::size_t>(got));
    }
    const auto end = head.find("\r\n\r\n");
    return end == std::string::npos ? std::string() : head.substr(0, end + 2);
}

bool StartsWithNoCase(std::string_view line, std::string_view prefix) {
    return line.size() >= prefix.size() &&
           ::strncasecmp(line.data(), prefix.data(), prefix.size()) == 0;
}

std::string AskForCredentials() {
    const std::string body = "<html>Sign in first</html>";
    return "HTTP/1.1 407 Proxy Authentication Required\r\n"
           "Proxy-Authenticate: Basic realm=\"test proxy\"\r\n"
           "Content-Type: text/html\r\nConnection: close\r\nContent-Length: " +
           std::to_string(body.size()) + "\r\n\r\n" + body;
}

} // namespace

TestProxy::TestProxy(int upstreamPort, std::string credentials)
    : TestProxy(upstreamPort, std::move(credentials), false) {}

TestProxy::TestProxy(int upstreamPort, std::string credentials, bool askAlways)
    : upstreamPort_(upstreamPort),
      expectedAuthorization_(credentials.empty() ? "" : "Basic " + Base64(credentials)),
      askAlways_(askAlways) {
    port_ = BoundSocket(listener_);
    int wake[2];
    if (::listen(listener_.Get(), 16) != 0 || ::pipe2(wake, O_CLOEXEC) != 0) {
        throw std::runtime_error(std::string("test proxy: ") + std::strerror(errno));
    }
    wakeRead_.Reset(wake[0]);
    wakeWrite_.Reset(wake[1]);
    thread_ = std::thread([this] { Serve(); });
}

TestProxy::~TestProxy() {
    const char stop = 's';
    (void)!::write(wakeWrite_.Get(), &stop, 1);
    thread_.join();
}

std::string TestProxy::Url() const {
    return "http://127.0.0.1:" + std::to_string(port_);
}

std::vector<std::string> TestProxy::Forwarded() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return forwarded_;
}

void TestProxy::Serve() {
    while (true) {
        pollfd waits[2] = {{listener_.Get(), POLLIN, 0}, {wakeRead_.Get(), POLLIN, 0}};
        if (::poll(waits, 2, -1) < 0 && errno != EINTR) {
            return;
        }
        if (waits[1].revents != 0) {
            return;
        }
        if (waits[0].revents != 0) {
            UniqueFd client(::accept4(listener_.Get(), nullptr, nullptr, SOCK_CLOEXEC));
            if (client.Get() >= 0) {
                Answer(client.Get());
            }
        }
    }
}

void TestProxy::Answer(int client) {
    const std::string head = ReadHead(client);
    if (head.empty()) {
        return;
    }
    ++received_;
    const std::string requestLine = head.substr(0, head.find("\r\n"));
    // Target and the headers the origin server gets: hop-by-hop lines dropped.
    const auto targetStart = requestLine.find(' ') + 1;
    const auto targetEnd = requestLine.find(' ', targetStart);
    const std::string target = requestLine.substr(targetStart, targetEnd - targetStart);
    std::string authorization;
    std::string headers;
    for (std::size_t at = head.find("\r\n") + 2; at < head.size();) {
        const auto end = head.find("\r\n", at);
        const std::string_view line(head.data() + at, end - at);
        at = end + 2;
        if (StartsWithNoCase(line, "Proxy-Authorization:")) {
            authorization = std::string(line.substr(line.find(':') + 1));
            authorization.erase(0, authorization.find_first_not_of(' '));
        } else if (!StartsWithNoCase(line, "Proxy-Connection:") &&
                   !StartsWithNoCase(line, "Connection:")) {
            headers += std::string(line) + "\r\n";
        }
    }
    const auto scheme = target.find("://");
    if (askAlways_ || authorization != expectedAuthorization_ || scheme == std::string::npos) {
        SendAll(client, AskForCredentials());
        return;
    }
    const auto path = target.find('/', scheme + 3);
    UniqueFd upstream(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const sockaddr_in address = Loopback(upstreamPort_);
    if (upstream.Get() < 0 ||
        ::connect(upstream.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) !=
            0 ||
        !SendAll(upstream.Get(), requestLine.substr(0, targetStart) +
                                     (path == std::string::npos ? "/" : target.substr(path)) +
                                     requestLine.substr(targetEnd) + "\r\n" + headers +
                                     "Connection: close\r\n\r\n")) {
        SendAll(client,
                "HTTP/1.1 502 Bad Gateway\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
        return;
    }
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        forwarded_.push_back(requestLine);
    }
    // The answer goes back as it comes, until the origin server closes.
    char buffer[16384];
    while (Readable(upstream.Get())) {
        const ssize_t got = ::recv(upstream.Get(), buffer, sizeof buffer, 0);
        if (got <= 0 || !SendAll(client, std::string_view(buffer, static_cast<std::size_t>(got)))) {
            return;
        }
    }
}

RefusingPort::RefusingPort() : port_(BoundSocket(socket_)) {}

std::string RefusingPort::Url() const {
    return "http://127.0.0.1:" + std::to_string(port_);
}

} // namespace quiltara::test

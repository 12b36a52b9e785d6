#include "DemoServer.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "UniqueFd.h"
#include "tiles/TileSources.h"

extern char** environ;

namespace quiltara::test {
namespace {

constexpr int kStartTimeoutMs = 30000;
constexpr const char* kArrivalLine = "X-Demo-Arrival:";

// Owns posix_spawn's file actions.
class SpawnActions {
public:
    SpawnActions() { posix_spawn_file_actions_init(&actions_); }
    ~SpawnActions() { posix_spawn_file_actions_destroy(&actions_); }
    SpawnActions(const SpawnActions&) = delete;
    SpawnActions& operator=(const SpawnActions&) = delete;
    posix_spawn_file_actions_t* Get() { return &actions_; }

private:
    posix_spawn_file_actions_t actions_;
};

std::string ToLower(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

std::vector<std::string> Arguments(const DemoServerOptions& options,
                                   const std::filesystem::path& log) {
    std::vector<std::string> args = {DemoServer::ExecutablePath().string(),
                                     "--port",
                                     "0",
                                     "--stop-on-input-end",
                                     "--log",
                                     log.string()};
    for (int number : options.errorServers) {
        args.insert(args.end(), {"--error-server", std::to_string(number)});
    }
    for (int number : options.refuseServers) {
        args.insert(args.end(), {"--refuse-server", std::to_string(number)});
    }
    if (!options.requiredWord.empty()) {
        args.insert(args.end(), {"--require-word", options.requiredWord});
    }
    for (const std::string& tile : options.missingTiles) {
        args.insert(args.end(), {"--missing-tile", tile});
    }
    if (options.truncate) {
        args.push_back("--truncate");
    }
    if (options.cutConnection) {
        args.push_back("--cut-connection");
    }
    if (options.trickle) {
        args.push_back("--trickle");
    }
    if (options.stall) {
        args.push_back("--stall");
    }
    if (options.delayMs > 0) {
        args.insert(args.end(), {"--delay-ms", std::to_string(options.delayMs)});
    }
    for (const std::string& tile : options.busyTiles) {
        args.insert(args.end(), {"--busy-tile", tile});
    }
    if (!options.busyTiles.empty()) {
        args.insert(args.end(),
                    {"--busy-status", std::to_string(options.busyStatus), "--retry-after",
                     options.retryAfterText.empty() ? std::to_string(options.retryAfterSeconds)
                                                    : options.retryAfterText,
                     "--busy-times", std::to_string(options.busyTimes)});
        if (options.retryAfterDate) {
            args.push_back("--retry-after-date");
        }
    }
    if (options.logArrivals) {
        args.push_back("--log-arrivals");
    }
    for (const std::string& tile : options.resetTiles) {
        args.insert(args.end(), {"--reset-tile", tile});
    }
    if (!options.redirectTo.empty()) {
        args.insert(args.end(), {"--redirect-to", options.redirectTo});
    }
    if (options.tileStatus != 200) {
        args.insert(args.end(), {"--tile-status", std::to_string(options.tileStatus)});
    }
    if (options.hiddenColours) {
        args.push_back("--hidden-colours");
    }
    if (!options.requiredHeader.empty()) {
        args.insert(args.end(), {"--require-header", options.requiredHeader});
    }
    return args;
}

} // namespace

// The running server process: started with its output on a pipe, ended with
// SIGTERM and reaped.
class DemoServer::Process {
public:
    explicit Process(const std::vector<std::string>& args) {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) {
            throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
        }
        output_.Reset(fds[0]);
        UniqueFd writeEnd(fds[1]);
        // The server's input: it ends when this process ends, however it
        // ends, and the server then stops too (--stop-on-input-end).
        if (::pipe2(fds, O_CLOEXEC) != 0) {
            throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
        }
        UniqueFd readEnd(fds[0]);
        lifeline_.Reset(fds[1]);
        SpawnActions actions;
        posix_spawn_file_actions_adddup2(actions.Get(), writeEnd.Get(), STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(actions.Get(), readEnd.Get(), STDIN_FILENO);
        std::vector<char*> argv;
        for (const std::string& arg : args) {
            argv.push_back(const_cast<char*>(arg.c_str()));
        }
        argv.push_back(nullptr);
        const int error =
            ::posix_spawn(&pid_, argv[0], actions.Get(), nullptr, argv.data(), environ);
        if (error != 0) {
            pid_ = -1;
            throw std::runtime_error("cannot start " + args[0] + ": " + std::strerror(error));
        }
    }

    ~Process() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            int status = 0;
            while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
            }
        }
    }
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    // The first line the server prints, within the start timeout.
    std::string FirstLine() {
        std::string line;
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(kStartTimeoutMs);
        while (line.find('\n') == std::string::npos) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            pollfd fd{output_.Get(), POLLIN, 0};
            if (left.count() <= 0 || ::poll(&fd, 1, static_cast<int>(left.count())) <= 0) {
                throw std::runtime_error("demo-map-server printed no port in time");
            }
            char buffer[256];
            const ssize_t got = ::read(output_.Get(), buffer, sizeof buffer);
            if (got <= 0) {
                throw std::runtime_error("demo-map-server ended before printing its port");
            }
            line.append(buffer, static_cast<size_t>(got));
        }
        return line.substr(0, line.find('\n'));
    }

private:
    pid_t pid_ = -1;
    UniqueFd output_;
    UniqueFd lifeline_;
};

std::filesystem::path DemoServer::ExecutablePath() {
    return QUILTARA_DEMO_MAP_SERVER;
}

DemoServer::DemoServer(const DemoServerOptions& options) {
    log_ = options.logFile.empty() ? folder_ / "requests.log" : options.logFile;
    process_ = std::make_unique<Process>(Arguments(options, log_));
    const std::string line = process_->FirstLine();
    port_ = std::atoi(line.c_str());
    if (port_ <= 0) {
        throw std::runtime_error("demo-map-server printed no port but: " + line);
    }
}

DemoServer::~DemoServer() = default;

std::string DemoServer::BaseUrl() const {
    return "http://127.0.0.1:" + std::to_string(port_);
}

std::string DemoServer::SiteAddress() const {
    return "http://maps.google.localhost:" + std::to_string(port_);
}

std::string DemoServer::Template(MapLayer layer) const {
    std::string text = DefaultSourceTemplate(layer);
    const std::string host = ".google.com";
    text.replace(text.find(host), host.size(), ".google.localhost:" + std::to_string(port_));
    return text;
}

std::string DemoServer::PaddedPngUrl(size_t size) const {
    return BaseUrl() + "/padded/" + std::to_string(size);
}

std::vector<LoggedRequest> DemoServer::Requests() const {
    std::ifstream in(log_, std::ios::binary);
    std::vector<LoggedRequest> requests;
    LoggedRequest current;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (line.empty()) {
            if (!current.requestLine.empty()) {
                requests.push_back(std::move(current));
            }
            current = LoggedRequest();
        } else if (current.requestLine.empty()) {
            current.requestLine = line;
        } else if (line.rfind(kArrivalLine, 0) == 0) {
            std::istringstream arrival(line.substr(std::strlen(kArrivalLine)));
            arrival >> current.connection >> current.arrivalMs;
        } else {
            current.headerLines.push_back(line);
        }
    }
    const size_t skip = std::min(skippedRequests_, requests.size());
    requests.erase(requests.begin(), requests.begin() + static_cast<std::ptrdiff_t>(skip));
    return requests;
}

void DemoServer::ClearRequests() {
    skippedRequests_ += Requests().size();
}

std::string LoggedRequest::Target() const {
    const size_t start = requestLine.find(' ');
    const size_t end = requestLine.rfind(' ');
    if (start == std::string::npos || end <= start) {
        return {};
    }
    return requestLine.substr(start + 1, end - start - 1);
}

std::string LoggedRequest::Header(const std::string& name) const {
    const std::string wanted = ToLower(name) + ":";
    for (const std::string& line : headerLines) {
        if (ToLower(line.substr(0, wanted.size())) == wanted) {
            const size_t value = line.find_first_not_of(' ', wanted.size());
            return value == std::string::npos ? std::string() : line.substr(value);
        }
    }
    return {};
}

int LoggedRequest::ServerNumber() const {
    const std::string host = Header("Host");
    const std::string label = host.substr(0, host.find_first_of(".:"));
    size_t start = label.size();
    while (start > 0 && std::isdigit(static_cast<unsigned char>(label[start - 1]))) {
        --start;
    }
    return start == label.size() ? -1 : std::atoi(label.c_str() + start);
}

std::string LoggedRequest::Param(const std::string& key) const {
    std::string target = Target();
    const size_t slash = target.find('/', 1);
    std::string params = slash == std::string::npos ? std::string() : target.substr(slash + 1);
    if (const size_t query = target.find('?'); query != std::string::npos) {
        params = target.substr(query + 1);
    }
    std::istringstream pairs(params);
    std::string pair;
    while (std::getline(pairs, pair, '&')) {
        if (pair.compare(0, key.size() + 1, key + "=") == 0) {
            return pair.substr(key.size() + 1);
        }
    }
    return {};
}

} // namespace quiltara::test

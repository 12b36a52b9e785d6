// demo-map-server: an offline stand-in for a tiled web map service, for the
// demo and for every test that talks HTTP. See --help.
#include <httplib.h>

#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "RequestFront.h"
#include "ServerOptions.h"
#include "TileService.h"

namespace {

constexpr size_t kWorkerThreads = 96;

// Ends the process once standard input reaches its end: the process that
// started the server holds the pipe's other end, and its exit (even a
// crash) closes it.
void StopOnInputEnd() {
    std::thread([] {
        char buffer[256];
        while (::read(STDIN_FILENO, buffer, sizeof buffer) > 0) {
        }
        std::_Exit(0);
    }).detach();
}

} // namespace

int main(int argc, char** argv) {
    std::signal(SIGPIPE, SIG_IGN);
    bool helpShown = false;
    const std::optional<demomap::ServerOptions> options = demomap::ParseServerOptions(
        std::vector<std::string>(argv + 1, argv + argc), DEMO_MAP_LEAFLET_DIR, helpShown);
    if (!options) {
        return helpShown ? 0 : 2;
    }
    if (options->stopOnInputEnd) {
        StopOnInputEnd();
    }
    try {
        auto goneClients = std::make_shared<demomap::GoneClients>();
        auto sentBytes = std::make_shared<std::atomic<std::uint64_t>>(0);
        demomap::TileService service(*options, goneClients, sentBytes);
        httplib::Server backend;
        service.Install(backend);
        // Clients keep one connection for a whole run of tiles. Each open
        // connection holds one worker thread, and a browser opens up to six
        // per tile host (nine hosts), so the pool must outnumber them or a
        // page load waits for idle connections to time out.
        backend.set_keep_alive_max_count(1000000);
        backend.set_keep_alive_timeout(10);
        backend.new_task_queue = [] {
            // The server takes ownership of the queue it is handed.
            return std::make_unique<httplib::ThreadPool>(kWorkerThreads).release();
        };
        // Headers and body go out in separate writes; without this the body
        // waits for the relay's delayed acknowledgement of the headers.
        backend.set_tcp_nodelay(true);
        const int backendPort = backend.bind_to_any_port("127.0.0.1");
        if (backendPort < 0) {
            std::fprintf(stderr, "demo-map-server: cannot bind the internal port\n");
            return 1;
        }
        std::thread serving([&backend] { backend.listen_after_bind(); });
        serving.detach();

        demomap::RequestFront front(backendPort,
                                    {options->logPath, options->refuseServers, options->logArrivals,
                                     goneClients, options->resetTiles, sentBytes});
        const int port = front.Listen(options->port);
        std::printf("%d\n", port);
        std::printf("Map page: http://maps.google.localhost:%d/\n", port);
        std::fflush(stdout);
        front.Run();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "demo-map-server: %s\n", error.what());
        return 1;
    }
}

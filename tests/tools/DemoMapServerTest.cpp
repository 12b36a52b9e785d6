// The offline map service every integration test and the demo rely on.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include "DemoServer.h"
#include "HttpTestSinks.h"
#include "TestPaths.h"
#include "platform/CurlHttpClient.h"
#include "tiles/TileSources.h"

namespace quiltara {
namespace {

using test::DemoServer;
using test::DemoServerOptions;
using test::MemorySink;
using ::testing::HasSubstr;

struct Answer {
    long status;
    std::string body;
};

Answer Fetch(CurlHttpClient& client, const std::string& url) {
    MemorySink sink;
    const HttpResult result = client.Get(url, {}, sink);
    return {result.status, sink.body};
}

// The PNG colour type from the header chunk: 2 RGB, 3 palette, 6 RGBA.
int PngColourType(const std::string& png) {
    return png.size() > 25 && png.compare(1, 3, "PNG") == 0 ? static_cast<unsigned char>(png[25])
                                                            : -1;
}

TEST(DemoMapServer, EachLayerComesInTheFormatTheRealServiceUses) {
    DemoServer server;
    CurlHttpClient client;
    auto tile = [&](MapLayer layer) {
        return Fetch(client, ExpandSourceUrl(server.Template(layer), "2", 3, 5, 4, "", 1));
    };
    const Answer map = tile(MapLayer::Map);
    const Answer satellite = tile(MapLayer::Satellite);
    const Answer terrain = tile(MapLayer::Terrain);
    const Answer hybrid = tile(MapLayer::Hybrid);
    EXPECT_EQ(PngColourType(map.body), 2);
    EXPECT_EQ(PngColourType(terrain.body), 3);
    EXPECT_EQ(PngColourType(hybrid.body), 6);
    ASSERT_GE(satellite.body.size(), 3u);
    EXPECT_EQ(satellite.body.substr(0, 3), "\xFF\xD8\xFF");
    // 256 x 256, big-endian width and height in the header chunk.
    EXPECT_EQ(map.body.substr(16, 8), std::string("\0\0\1\0\0\0\1\0", 8));
    // Neighbouring tiles differ: each carries its own position.
    EXPECT_NE(
        Fetch(client, ExpandSourceUrl(server.Template(MapLayer::Map), "2", 4, 5, 4, "", 1)).body,
        map.body);
}

TEST(DemoMapServer, ThePageFormOfATileUrlAnswersTheSameTile) {
    DemoServer server;
    CurlHttpClient client;
    const std::string host = "http://mt1.google.localhost:" + std::to_string(server.Port());
    const Answer page = Fetch(client, host + "/vt?v=w2p.115&hl=en&x=3&y=5&zoom=4&s=Galileo");
    const Answer tile = Fetch(client, host + "/vt/v=w2p.115&hl=en&x=3&y=5&z=4&s=G");
    EXPECT_EQ(page.status, 200);
    EXPECT_EQ(page.body, tile.body);
}

TEST(DemoMapServer, MissingTilesAndWrongWordsGetAnHtmlNotFoundPage) {
    DemoServer server(DemoServerOptions().RequireWord("Gal").MissingTile(4, 3, 5));
    CurlHttpClient client;
    const std::string tmpl = server.Template(MapLayer::Map);
    const Answer missing = Fetch(client, ExpandSourceUrl(tmpl, "0", 3, 5, 4, "", 3));
    const Answer wrongWord = Fetch(client, ExpandSourceUrl(tmpl, "0", 3, 6, 4, "", 2));
    const Answer offGrid = Fetch(client, ExpandSourceUrl(tmpl, "0", 16, 0, 4, "", 3));
    const Answer good = Fetch(client, ExpandSourceUrl(tmpl, "0", 3, 6, 4, "", 3));
    for (const Answer& bad : {missing, wrongWord, offGrid}) {
        EXPECT_EQ(bad.status, 404);
        EXPECT_THAT(bad.body, HasSubstr("<html>"));
    }
    EXPECT_EQ(good.status, 200);
}

TEST(DemoMapServer, TruncatedTilesAreTheFirstHalf) {
    DemoServer whole;
    DemoServer truncated(DemoServerOptions().Truncate());
    CurlHttpClient client;
    const Answer full =
        Fetch(client, ExpandSourceUrl(whole.Template(MapLayer::Hybrid), "0", 1, 1, 2, "", 1));
    const Answer half =
        Fetch(client, ExpandSourceUrl(truncated.Template(MapLayer::Hybrid), "0", 1, 1, 2, "", 1));
    EXPECT_EQ(half.status, 200);
    EXPECT_EQ(half.body, full.body.substr(0, full.body.size() / 2));
}

TEST(DemoMapServer, ServesTheSlippyMapPageWithItsOwnLeaflet) {
    DemoServer server;
    CurlHttpClient client;
    const Answer page = Fetch(client, server.SiteAddress() + "/");
    EXPECT_EQ(page.status, 200);
    EXPECT_THAT(page.body, HasSubstr("/leaflet/leaflet.js"));
    // Tile images carry v, hl, x, y and zoom in their query, one v per layer.
    EXPECT_THAT(page.body, HasSubstr("&x={x}&y={y}&zoom={z}"));
    EXPECT_THAT(page.body, HasSubstr("'?v=' + version + '&hl='"));
    for (const char* version : {"'w2.97'", "'w2t.50'", "'w2p.115'"}) {
        EXPECT_THAT(page.body, HasSubstr(version));
    }
    EXPECT_THAT(page.body, HasSubstr(".google.localhost"));
    const Answer leaflet = Fetch(client, server.SiteAddress() + "/leaflet/leaflet.js");
    EXPECT_EQ(leaflet.status, 200);
    EXPECT_THAT(leaflet.body, HasSubstr("Leaflet"));
    EXPECT_EQ(Fetch(client, server.SiteAddress() + "/leaflet/leaflet.css").status, 200);
}

TEST(DemoMapServer, LogsEveryRequestAndCanForgetThem) {
    DemoServer server;
    CurlHttpClient client;
    Fetch(client, server.SiteAddress() + "/");
    Fetch(client, server.PaddedPngUrl(1000));
    std::vector<test::LoggedRequest> requests = server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].Target(), "/");
    EXPECT_EQ(requests[0].Header("host"), "maps.google.localhost:" + std::to_string(server.Port()));
    EXPECT_EQ(requests[0].ServerNumber(), -1);
    server.ClearRequests();
    Fetch(client, ExpandSourceUrl(server.Template(MapLayer::Satellite), "3", 1, 2, 3, "", 4));
    requests = server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].ServerNumber(), 3);
    EXPECT_EQ(requests[0].Param("s"), "Gali");
    EXPECT_EQ(requests[0].Param("x"), "1");
}

TEST(DemoMapServer, HelpSucceedsAndTheLogIsAppendedTo) {
    const std::string help = "'" + DemoServer::ExecutablePath().string() + "' --help >/dev/null";
    const int raw = std::system(help.c_str());
    EXPECT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 0) << raw;

    test::TempDir dir;
    const std::filesystem::path log = dir / "shared.log";
    std::ofstream(log, std::ios::binary) << "GET /earlier HTTP/1.1\r\nHost: before\r\n\r\n";
    DemoServer server(DemoServerOptions().LogFile(log));
    CurlHttpClient client;
    Fetch(client, server.SiteAddress() + "/");
    const std::vector<test::LoggedRequest> requests = server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].Target(), "/earlier");
    EXPECT_EQ(requests[1].Target(), "/");
}

// Opens a connection, asks for a tile and waits for the start of its answer:
// true when it came within a few seconds.
bool StartAnswerAndLeave(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return false;
    }
    const timeval wait{5, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool answered = false;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
        const std::string request = "GET /vt/v=w2.97&hl=en&x=0&y=0&z=0&s=G HTTP/1.1\r\nHost: " +
                                    std::string("mt0.google.localhost\r\n\r\n");
        char buffer[64];
        answered = ::send(fd, request.data(), request.size(), MSG_NOSIGNAL) ==
                       static_cast<ssize_t>(request.size()) &&
                   ::recv(fd, buffer, sizeof buffer, 0) > 0;
    }
    ::close(fd);
    return answered;
}

TEST(DemoMapServer, AbandonedStallsLeaveThePageAndTheTilesAnswering) {
    DemoServer server(DemoServerOptions().Stall());
    // More stalled answers than the server has workers, each abandoned by its
    // client once it has begun.
    for (int i = 0; i < 120; ++i) {
        ASSERT_TRUE(StartAnswerAndLeave(server.Port())) << "stalled answer " << i;
    }
    CurlHttpClient::Timeouts quick;
    quick.connectSeconds = 5;
    quick.lowSpeedSeconds = 5;
    CurlHttpClient client(quick);
    EXPECT_EQ(Fetch(client, server.SiteAddress() + "/").status, 200);
}

} // namespace
} // namespace quiltara

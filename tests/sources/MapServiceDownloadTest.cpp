// Downloads through the map service route, against the offline service.
#include <gtest/gtest.h>

#include "DemoServer.h"
#include "platform/CurlHttpClient.h"
#include "sources/MapServiceRoute.h"
#include "tiles/TileSources.h"

namespace quiltara {
namespace {

class NullSink : public HttpBodySink {
public:
    void WriteBlock(std::span<const std::byte> block) override { bytes += block.size(); }
    size_t bytes = 0;
};

// Downloads keep the real URL and Host header; only the connection goes to
// the offline service, which reads the server number from the host name.
TEST(MapServiceRouteDownloads, ReachTheOfflineServiceUnderTheRealHostNames) {
    test::DemoServer server;
    std::string error;
    const auto route = MapServiceRoute::Parse("127.0.0.1:" + std::to_string(server.Port()), error);
    ASSERT_TRUE(route) << error;
    CurlHttpClient http;
    http.SetConnectTo(route->ConnectToEntries());
    NullSink sink;
    const std::string url =
        ExpandSourceUrl(DefaultSourceTemplate(MapLayer::Satellite), "2", 3, 4, 5, "", 3);
    const HttpResult result = http.Get(url, {}, sink);
    EXPECT_EQ(result.status, 200);
    EXPECT_GT(sink.bytes, 0u);
    const std::vector<test::LoggedRequest> requests = server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].Header("Host"), "khm2.google.com");
    EXPECT_EQ(requests[0].ServerNumber(), 2);
    EXPECT_EQ(requests[0].Target(), "/kh/v=50&x=3&y=4&z=5&s=Gal");
}

} // namespace
} // namespace quiltara

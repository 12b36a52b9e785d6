#include "platform/CurlHttpClient.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>

#include "DemoServer.h"
#include "HttpTestSinks.h"
#include "TestPaths.h"
#include "tiles/TileSources.h"

namespace quiltara {
namespace {

using test::DemoServer;
using test::DemoServerOptions;
using test::MemorySink;
using ::testing::HasSubstr;

const std::vector<std::string> kTileHeaders = {"Accept: image/gif, image/jpeg, image/png",
                                               "User-Agent: HTML Get Sample"};

using test::QuickTimeouts;

TEST(CurlHttpClient, SendsTheExtraHeaderLinesVerbatimAndInOrder) {
    DemoServer server;
    CurlHttpClient client;
    MemorySink sink;
    const std::string url = ExpandSourceUrl(server.Template(MapLayer::Map), "0", 5, 7, 3, "", 1);
    const HttpResult result = client.Get(url, kTileHeaders, sink);
    EXPECT_EQ(result.status, 200);
    EXPECT_TRUE(result.complete);

    const std::vector<test::LoggedRequest> requests = server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].requestLine, "GET /vt/v=w2.97&hl=en&x=5&y=7&z=3&s=G HTTP/1.1");
    const std::vector<std::string>& lines = requests[0].headerLines;
    const auto accept = std::find(lines.begin(), lines.end(), kTileHeaders[0]);
    const auto agent = std::find(lines.begin(), lines.end(), kTileHeaders[1]);
    ASSERT_NE(accept, lines.end());
    ASSERT_NE(agent, lines.end());
    EXPECT_EQ(agent - accept, 1) << "User-Agent must directly follow Accept";
    // No second Accept or User-Agent of the library's own.
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string& l) {
                                return l.rfind("Accept:", 0) == 0 || l.rfind("User-Agent:", 0) == 0;
                            }),
              2);
}

TEST(CurlHttpClient, DeliversTheWholeBodyInBlocksOfAtMost32768Bytes) {
    DemoServer server;
    CurlHttpClient client;
    for (const size_t size : {size_t{32768}, size_t{100000}}) {
        MemorySink sink;
        const HttpResult result = client.Get(server.PaddedPngUrl(size), kTileHeaders, sink);
        EXPECT_EQ(result.bodyBytes, size);
        ASSERT_EQ(sink.body.size(), size);
        EXPECT_EQ(sink.body.substr(1, 3), "PNG");
        EXPECT_LE(*std::max_element(sink.blockSizes.begin(), sink.blockSizes.end()),
                  HttpClient::kMaxBlockSize);
    }
}

TEST(CurlHttpClient, HandsOverTheBodyOfAnErrorAnswer) {
    DemoServer server(DemoServerOptions().ErrorServer(1));
    CurlHttpClient client;
    MemorySink sink;
    const std::string url = ExpandSourceUrl(server.Template(MapLayer::Map), "1", 0, 0, 0, "", 1);
    const HttpResult result = client.Get(url, kTileHeaders, sink);
    EXPECT_EQ(result.status, 503);
    EXPECT_THAT(sink.body, HasSubstr("<html>"));
}

TEST(CurlHttpClient, OneClientServesRequestsToSeveralHostsInTurn) {
    DemoServer server;
    CurlHttpClient client;
    for (const char* number : {"0", "0", "1", "0"}) {
        MemorySink sink;
        const std::string url =
            ExpandSourceUrl(server.Template(MapLayer::Terrain), number, 1, 1, 1, "de", 2);
        EXPECT_EQ(client.Get(url, kTileHeaders, sink).status, 200);
    }
    const std::vector<test::LoggedRequest> requests = server.Requests();
    ASSERT_EQ(requests.size(), 4u);
    EXPECT_EQ(requests[2].ServerNumber(), 1);
    EXPECT_EQ(requests[3].Param("hl"), "de");
}

TEST(CurlHttpClient, ConnectionFailuresNameTheUrlAndTheReason) {
    CurlHttpClient client(QuickTimeouts());
    MemorySink sink;
    const std::string closed =
        "http://127.0.0.1:" + std::to_string(test::ClosedLoopbackPort()) + "/vt/x=1";
    try {
        client.Get(closed, kTileHeaders, sink);
        FAIL() << "a closed port must throw";
    } catch (const HttpConnectionError& error) {
        EXPECT_EQ(error.Url(), closed);
        EXPECT_FALSE(error.Reason().empty());
        EXPECT_THAT(error.what(), HasSubstr(closed));
    }
    EXPECT_THROW(client.Get("notascheme://host/", kTileHeaders, sink), HttpConnectionError);
    EXPECT_TRUE(sink.body.empty());
}

TEST(CurlHttpClient, AServerThatClosesWithoutAnswerIsAConnectionFailure) {
    DemoServer server(DemoServerOptions().RefuseServer(0));
    CurlHttpClient client(QuickTimeouts());
    MemorySink sink;
    const std::string url = ExpandSourceUrl(server.Template(MapLayer::Map), "0", 0, 0, 0, "", 1);
    EXPECT_THROW(client.Get(url, kTileHeaders, sink), HttpConnectionError);
    // The same client still works for a server number that answers.
    const std::string other = ExpandSourceUrl(server.Template(MapLayer::Map), "1", 0, 0, 0, "", 1);
    EXPECT_EQ(client.Get(other, kTileHeaders, sink).status, 200);
}

TEST(CurlHttpClient, ASilentServerEndsWithinTheLowSpeedTimeout) {
    DemoServer server(DemoServerOptions().DelayMs(600000));
    CurlHttpClient client(QuickTimeouts());
    MemorySink sink;
    const std::string url = ExpandSourceUrl(server.Template(MapLayer::Map), "0", 0, 0, 0, "", 1);
    EXPECT_THROW(client.Get(url, kTileHeaders, sink), HttpConnectionError);
}

TEST(CurlHttpClient, ATricklingServerIsAbandonedLikeASilentOne) {
    // 16 bytes a second never lets the transfer pass as stalled at 1 byte a
    // second; the client's own limit must be well above that.
    DemoServer server(DemoServerOptions().Trickle());
    CurlHttpClient client(QuickTimeouts());
    MemorySink sink;
    const std::string url = ExpandSourceUrl(server.Template(MapLayer::Map), "0", 0, 0, 0, "", 1);
    EXPECT_THROW(client.Get(url, kTileHeaders, sink), HttpConnectionError);
}

TEST(CurlHttpClient, ABodyCutShortIsReturnedAsIncomplete) {
    DemoServer server(DemoServerOptions().CutConnection());
    CurlHttpClient client(QuickTimeouts());
    MemorySink sink;
    const std::string url = ExpandSourceUrl(server.Template(MapLayer::Map), "0", 0, 0, 0, "", 1);
    const HttpResult result = client.Get(url, kTileHeaders, sink);
    EXPECT_EQ(result.status, 200);
    EXPECT_FALSE(result.complete);
    EXPECT_GT(result.bodyBytes, 0u);
    EXPECT_EQ(result.bodyBytes, sink.body.size());
}

TEST(CurlHttpClient, AnExceptionFromTheSinkPassesThroughUnchanged) {
    struct FailingSink : HttpBodySink {
        void WriteBlock(std::span<const std::byte>) override { throw std::range_error("full"); }
    };
    DemoServer server;
    CurlHttpClient client;
    FailingSink sink;
    EXPECT_THROW(client.Get(server.PaddedPngUrl(5000), kTileHeaders, sink), std::range_error);
    MemorySink good;
    EXPECT_EQ(client.Get(server.PaddedPngUrl(5000), kTileHeaders, good).bodyBytes, 5000u);
}

} // namespace
} // namespace quiltara

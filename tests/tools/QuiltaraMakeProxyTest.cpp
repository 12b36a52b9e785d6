// quiltara-make through proxies of the test's own: which proxy a run takes
// from its environment and --proxy, and how a proxy that fails ends it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <regex>

#include "DemoServer.h"
#include "MadeTime.h"
#include "QuiltaraMakeFixture.h"
#include "TestPaths.h"
#include "TestProxy.h"
#include "sources/MapSourcesValues.h"

namespace quiltara::make {
namespace {

using test::DemoServer;
using test::RefusingPort;
using test::TestProxy;
using ::testing::HasSubstr;
using ::testing::Not;

// Every variable libcurl reads for proxies, and the upper-case HTTP_PROXY it
// must not: the run sees only the ones a case sets, whatever the machine has.
constexpr const char* kProxyVariables[] = {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY",
                                           "all_proxy",  "ALL_PROXY",  "no_proxy",    "NO_PROXY"};

constexpr int kTiles = 6; // --tiles=10,20,12,21

struct ProxyCase {
    const char* name;
    std::vector<std::string> environment; // NAME=VALUE, with the placeholders below
    std::vector<std::string> args;        // after the area, the map layer's template and -o
    // Which proxy forwards every tile: "forwarding", "signed-in" or "" (none).
    std::string carrier;
    int status;
    std::string message; // part of the error output (status 1)
    bool https = false;  // the template asks for https
};

// {forwarding}: a proxy that forwards to the demo server; {signed-in}: one
// that forwards only with the credentials tester:s3cret; {refusing}: a port
// that refuses connections; {asking}: a proxy that answers every request 407.
const ProxyCase kCases[] = {
    {"the environment's http_proxy carries every tile",
     {"http_proxy={forwarding}"},
     {},
     "forwarding",
     0,
     ""},
    {"all_proxy stands in for a missing http_proxy",
     {"ALL_PROXY={forwarding}"},
     {},
     "forwarding",
     0,
     ""},
    {"upper-case HTTP_PROXY is never read", {"HTTP_PROXY={refusing}"}, {}, "", 0, ""},
    {"--proxy wins over the environment",
     {"http_proxy={refusing}"},
     {"--proxy={forwarding}"},
     "forwarding",
     0,
     ""},
    {"credentials in --proxy reach the proxy",
     {},
     {"--proxy", "http://tester:s3cret@{signed-in-host}"},
     "signed-in",
     0,
     ""},
    {"no_proxy sends a named domain past the environment's proxy",
     {"http_proxy={refusing}", "no_proxy=example.org, localhost"},
     {},
     "",
     0,
     ""},
    {"NO_PROXY sends a named domain past --proxy",
     {"NO_PROXY=.google.localhost"},
     {"--proxy={refusing}"},
     "",
     0,
     ""},
    {"an empty --proxy goes direct", {"http_proxy={refusing}"}, {"--proxy", ""}, "", 0, ""},
    {"--proxy direct goes direct", {"all_proxy={refusing}"}, {"--proxy=direct"}, "", 0, ""},
    {"a refusing proxy ends the run naming it",
     {"http_proxy={refusing}"},
     {},
     "",
     1,
     "the run ended: Could not download the tiles: the proxy '{refusing}' (from http_proxy) "
     "cannot be reached: "},
    {"a proxy wanting credentials ends the run",
     {"http_proxy={asking}"},
     {},
     "",
     1,
     "the proxy '{asking}' (from http_proxy) asks for a user name and password (407 Proxy "
     "Authentication Required)"},
    {"refused credentials are masked",
     {},
     {"--proxy", "http://tester:s3cret@{asking-host}"},
     "",
     1,
     "the proxy 'http://***@{asking-host}' (from --proxy) did not accept the user name and "
     "password in its address (407"},
    {"a tunnel refused for https names the proxy",
     {"HTTPS_PROXY={asking}"},
     {},
     "",
     1,
     "the proxy '{asking}' (from HTTPS_PROXY) asks for a user name and password",
     true},
};

class QuiltaraMakeProxy : public QuiltaraMake {
protected:
    // Runs the map layer of the area into a folder of its own, with exactly
    // the proxy variables given.
    Finished MakeMap(const std::string& folder, const std::vector<std::string>& environment,
                     std::vector<std::string> args, const std::string& tileTemplate) {
        std::filesystem::create_directory(out_ / folder);
        shellPrefix_ = "env";
        for (const char* name : kProxyVariables) {
            shellPrefix_ += std::string(" -u ") + name;
        }
        for (const std::string& assignment : environment) {
            shellPrefix_ += " " + Quoted(Filled(assignment));
        }
        shellPrefix_ += " timeout 60 ";
        std::vector<std::string> all = {"--tiles=10,20,12,21",
                                        "--zoom=5",
                                        "--layers=map",
                                        "--template-map=" + tileTemplate,
                                        "--quiet",
                                        "-o",
                                        (out_ / folder / "city.png").string()};
        for (std::string& arg : args) {
            all.push_back(Filled(arg));
        }
        return Make(all);
    }

    std::string Filled(std::string text) const {
        for (const auto& [placeholder, value] : places_) {
            text = std::regex_replace(text, std::regex("\\{" + placeholder + "\\}"), value);
        }
        return text;
    }

    DemoServer server_;
    TestProxy forwarding_{server_.Port()};
    TestProxy signedIn_{server_.Port(), "tester:s3cret"};
    RefusingPort refusing_;
    TestProxy asking_ = TestProxy::AskingForCredentials();
    std::map<std::string, std::string> places_ = {
        {"forwarding", forwarding_.Url()},
        {"signed-in-host", "127.0.0.1:" + std::to_string(signedIn_.Port())},
        {"refusing", refusing_.Url()},
        {"asking", asking_.Url()},
        {"asking-host", "127.0.0.1:" + std::to_string(asking_.Port())},
    };
};

TEST_F(QuiltaraMakeProxy, EachRunTakesTheProxyItsEnvironmentAndOptionsName) {
    const std::string tileTemplate = server_.Template(MapLayer::Map);
    const Finished direct = MakeMap("direct", {}, {}, tileTemplate);
    ASSERT_EQ(direct.status, 0) << direct.err;
    const std::string expected =
        test::WithoutCreationTime(test::ReadFile(out_ / "direct" / "Map_city.png"));
    ASSERT_FALSE(expected.empty());

    int row = 0;
    for (const ProxyCase& c : kCases) {
        SCOPED_TRACE(c.name);
        server_.ClearRequests();
        const std::map<std::string, std::size_t> before = {
            {"forwarding", forwarding_.Forwarded().size()},
            {"signed-in", signedIn_.Forwarded().size()}};
        const std::string folder = "row" + std::to_string(++row);
        const std::string used =
            c.https ? std::regex_replace(tileTemplate, std::regex("^http:"), "https:")
                    : tileTemplate;
        const Finished run = MakeMap(folder, c.environment, c.args, used);

        EXPECT_EQ(run.status, c.status) << run.err;
        const std::map<std::string, std::size_t> carried = {
            {"forwarding", forwarding_.Forwarded().size() - before.at("forwarding")},
            {"signed-in", signedIn_.Forwarded().size() - before.at("signed-in")}};
        for (const auto& [proxy, count] : carried) {
            EXPECT_EQ(count, proxy == c.carrier ? std::size_t{kTiles} : 0u) << proxy;
        }
        if (c.status == 0) {
            EXPECT_EQ(server_.Requests().size(), std::size_t{kTiles});
            EXPECT_EQ(test::WithoutCreationTime(test::ReadFile(out_ / folder / "Map_city.png")),
                      expected);
        } else {
            EXPECT_THAT(run.err, HasSubstr(Filled(c.message)));
            EXPECT_THAT(run.err, Not(HasSubstr("Could not download 'http")));
            EXPECT_THAT(run.err + run.out, Not(HasSubstr("s3cret")));
            EXPECT_THAT(run.err + run.out, Not(HasSubstr("tester")));
            EXPECT_EQ(server_.Requests().size(), 0u);
        }
    }
    // The proxy got the requests in the absolute form, for the tile servers' names.
    ASSERT_FALSE(forwarding_.Forwarded().empty());
    EXPECT_THAT(forwarding_.Forwarded().front(), HasSubstr("GET http://mt"));
}

TEST_F(QuiltaraMakeProxy, TheMapServiceRouteGoesStraightToItsAddress) {
    // The route names where the service's requests go; a proxy would send
    // them to the real service instead.
    const Finished run = MakeMap("routed", {"http_proxy={refusing}"},
                                 {"--map-service", "127.0.0.1:" + std::to_string(server_.Port())},
                                 DefaultSourceUrl(MapLayer::Map));
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(server_.Requests().size(), std::size_t{kTiles});
}

} // namespace
} // namespace quiltara::make

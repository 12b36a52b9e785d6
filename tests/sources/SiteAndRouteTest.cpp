// The site check of "1. Goto Google maps..." and the route that sends the map
// service's host names to the offline service.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "sources/MapServiceRoute.h"
#include "sources/SiteChoice.h"

namespace quiltara {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;

TEST(SiteChoice, PresetsAreTheServicesSitesAndAllPassTheCheckUnchanged) {
    EXPECT_THAT(PresetSites(), ElementsAre("http://maps.google.com", "http://maps.google.co.uk",
                                           "http://maps.google.cn", "http://maps.google.co.jp",
                                           "http://maps.google.com.tw"));
    for (const std::string& site : PresetSites()) {
        const CheckedSite checked = CheckSiteAddress(site);
        EXPECT_EQ(checked.address, site);
        EXPECT_EQ(checked.fallbackMessage, "");
    }
}

TEST(SiteChoice, OneTrailingSlashGoesAndTheCheckIgnoresCase) {
    EXPECT_EQ(CheckSiteAddress("http://maps.google.co.uk/").address, "http://maps.google.co.uk");
    EXPECT_EQ(CheckSiteAddress("http://maps.google.co.uk//").address, "http://maps.google.co.uk/");
    EXPECT_EQ(CheckSiteAddress("HTTP://Maps.Google.De/").address, "HTTP://Maps.Google.De");
    EXPECT_EQ(CheckSiteAddress("http://maps.google.localhost:8080").fallbackMessage, "");
}

TEST(SiteChoice, AnUnrecognisedAddressFallsBackToTheInternationalSiteWithTheMessage) {
    for (const std::string address : {"http://example.org/", "http://maps.googlecom", "google"}) {
        const CheckedSite checked = CheckSiteAddress(address);
        EXPECT_EQ(checked.address, "http://maps.google.com") << address;
        EXPECT_EQ(checked.fallbackMessage,
                  "Sorry, couldnt recognise the format of the URL entered.  Images will be "
                  "downloaded from maps.google.com instead");
    }
}

TEST(MapServiceRoute, ParsesHostAndPortAndRefusesAnythingElse) {
    std::string error;
    const auto route = MapServiceRoute::Parse("127.0.0.1:8080", error);
    ASSERT_TRUE(route);
    EXPECT_EQ(route->Host(), "127.0.0.1");
    EXPECT_EQ(route->Port(), 8080);
    EXPECT_TRUE(MapServiceRoute::Parse("[::1]:80", error));
    EXPECT_TRUE(MapServiceRoute::Parse("tiles.example:65535", error));
    for (const char* bad : {"", "8080", "host:", ":8080", "host:0", "host:65536", "host:80x",
                            "host:-1", "ho st:80", "a/b:80", "user@host:80", "host:99999999999"}) {
        error.clear();
        EXPECT_FALSE(MapServiceRoute::Parse(bad, error)) << bad;
        EXPECT_FALSE(error.empty()) << bad;
    }
}

TEST(MapServiceRoute, CoversThePresetSitesTheDefaultTileHostsAndTheOfflineDemoSourceOnly) {
    const std::vector<std::string>& hosts = MapServiceRoute::ServiceHosts();
    for (const char* host : {"maps.google.com", "maps.google.co.uk", "maps.google.cn",
                             "maps.google.co.jp", "maps.google.com.tw", "mt0.google.com",
                             "mt3.google.com", "khm0.google.com", "khm3.google.com",
                             "offline-demo.localhost", "c.offline-demo.localhost"}) {
        EXPECT_THAT(hosts, Contains(host));
    }
    EXPECT_EQ(hosts.size(), 17u);
    EXPECT_TRUE(MapServiceRoute::IsServiceHost("MT2.Google.COM"));
    EXPECT_FALSE(MapServiceRoute::IsServiceHost("mt4.google.com"));
    EXPECT_FALSE(MapServiceRoute::IsServiceHost("www.google.com"));
    EXPECT_FALSE(MapServiceRoute::IsServiceHost("maps.google.com.evil.example"));
}

TEST(MapServiceRoute, RedirectsOnlyTheServicesAddressesKeepingPathAndQuery) {
    std::string error;
    const auto local = MapServiceRoute::Parse("127.0.0.1:4321", error);
    ASSERT_TRUE(local);
    EXPECT_EQ(local->Redirect("http://maps.google.com"), "http://maps.google.com.localhost:4321/");
    EXPECT_EQ(local->Redirect("https://Maps.Google.co.uk./?q=1#top"),
              "http://maps.google.co.uk.localhost:4321/?q=1#top");
    EXPECT_EQ(local->Redirect("http://mt2.google.com:80/vt/v=w2.97&x=1"),
              "http://mt2.google.com.localhost:4321/vt/v=w2.97&x=1");
    EXPECT_EQ(local->Redirect("http://mt0.google.localhost:4321/vt?x=1"), std::nullopt);
    EXPECT_EQ(local->Redirect("http://example.org/maps.google.com/"), std::nullopt);
    EXPECT_EQ(local->Redirect("http://user@maps.google.com/"), std::nullopt);
    EXPECT_EQ(local->Redirect("ftp://maps.google.com/"), std::nullopt);
    EXPECT_EQ(local->Redirect("maps.google.com"), std::nullopt);

    const auto remote = MapServiceRoute::Parse("10.1.2.3:8000", error);
    ASSERT_TRUE(remote);
    EXPECT_EQ(remote->Redirect("http://khm1.google.com/kh/v=50"), "http://10.1.2.3:8000/kh/v=50");
    EXPECT_THAT(remote->ConnectToEntries(), Contains("khm1.google.com::10.1.2.3:8000"));
    EXPECT_EQ(remote->ConnectToEntries().size(), MapServiceRoute::ServiceHosts().size());
}

} // namespace
} // namespace quiltara

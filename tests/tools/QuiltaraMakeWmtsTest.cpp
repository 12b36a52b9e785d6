// quiltara-make adding a WMTS service by its capabilities and making a map
// of it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "QuiltaraMakeFixture.h"
#include "SamePixels.h"
#include "image/RasterImage.h"

namespace quiltara::make {
namespace {

namespace fs = std::filesystem;
using test::DemoServer;
using test::ReadFile;
using ::testing::HasSubstr;

// A person with only a WMTS capabilities address: the layers are listed,
// those the stitch cannot use with the reason; the named ones become a
// source file, and the map made of it is the service's tiles, pixel for
// pixel, whatever the service calls its zoom levels.
TEST_F(QuiltaraMake, AddsAWmtsServiceByItsCapabilitiesAndMapsIt) {
    DemoServer server;
    const UserSources user;
    shellPrefix_ = user.Prefix();
    const std::string capabilities = server.BaseUrl() + "/wmts/1.0.0/WMTSCapabilities.xml";
    const Finished listed = Make({"--add-wmts", capabilities});
    EXPECT_EQ(listed.status, 0) << listed.err;
    EXPECT_THAT(listed.out, HasSubstr("demo-road    Demo road map (zoom 0 to 19, image/png)"));
    EXPECT_THAT(listed.out, HasSubstr("demo-relief  Demo relief (zoom 2 to 16, image/png, "
                                      "key-value)"));
    EXPECT_THAT(listed.out, HasSubstr("uses EPSG:25832; Quiltara stitches Web Mercator "
                                      "(EPSG:3857) tiles only"));
    EXPECT_THAT(listed.out, HasSubstr("has 512 x 512 tiles"));

    const Finished added =
        Make({"--add-wmts", capabilities, "--wmts-layer", "demo-road", "--wmts-layer",
              "terrain=demo-relief", "--wmts-layer", "satellite=demo-photo", "--id", "wmts"});
    EXPECT_EQ(added.status, 0) << added.err;
    EXPECT_THAT(added.out, HasSubstr((user.Folder() / "wmts.json").string()));
    EXPECT_THAT(ReadFile(user.Folder() / "wmts.json"), HasSubstr("\"5\": \"EPSG:3857:5\""));
    EXPECT_EQ(Make({"--add-wmts", capabilities, "--wmts-layer", "demo-utm"}).status, 1);
    EXPECT_EQ(Make({"--wmts-layer", "demo-road"}).status, 2);

    const Finished run = Make({"--source", "wmts", "--tiles=10,20,12,21", "--zoom=5",
                               "--layers=map,satellite,terrain", "--keep-tiles", "--quiet", "-o",
                               (out_ / "w.png").string()});
    EXPECT_EQ(run.status, 0) << run.err;
    std::vector<std::string> direct = AreaAndTemplates(server);
    direct.insert(direct.end(), {"--layers=map,satellite,terrain", "--keep-tiles", "--quiet", "-o",
                                 (out_ / "d.png").string()});
    ASSERT_EQ(Make(direct).status, 0);
    for (const char* prefix : {"Map_", "Sat_", "Ter_"}) {
        test::ExpectSamePixels(
            RasterImage((out_ / (prefix + std::string("d.png"))).string(), kFormatPng),
            RasterImage((out_ / (prefix + std::string("w.png"))).string(), kFormatPng), prefix);
    }
}

} // namespace
} // namespace quiltara::make

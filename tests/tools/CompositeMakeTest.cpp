// quiltara-make's composite images and --overlay alpha, against the offline
// map service with hybrid tiles that keep colours under their transparent
// pixels: every pixel compared with a blend of the tiles made here.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <tiffio.h>

#include <cstdint>
#include <filesystem>
#include <memory>

#include "PictureReadback.h"
#include "QuiltaraMakeFixture.h"
#include "image/RasterImage.h"

namespace quiltara::make {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

constexpr int kColumns = 3;
constexpr int kRows = 2;
constexpr int kWidth = kColumns * 256;
constexpr int kHeight = kRows * 256;

using test::Picture;

Picture ReadPng(const fs::path& path) {
    return test::ReadPngPicture(path, kWidth, kHeight);
}

Picture ReadTiff(const fs::path& path) {
    return test::ReadTiffPicture(path, kWidth, kHeight);
}

// The tiles of a layer as one picture, their colour and alpha as stored.
Picture TilesOf(const fs::path& folder, const std::string& prefix) {
    Picture picture{kWidth, 4, std::vector<std::uint8_t>(std::size_t{kWidth} * kHeight * 4)};
    for (int ty = 0; ty < kRows; ++ty) {
        for (int tx = 0; tx < kColumns; ++tx) {
            const RasterImage tile((folder / (prefix + TileFileName(10 + tx, 20 + ty, 5))).string(),
                                   kFormatPng);
            EXPECT_TRUE(tile.HasPixels()) << prefix << tx << "," << ty;
            for (int y = 0; y < 256 && tile.HasPixels(); ++y) {
                for (int x = 0; x < 256; ++x) {
                    const RgbQuad c = tile.PixelColor(x, 255 - y);
                    const std::uint8_t alpha = tile.HasAlpha() ? tile.AlphaAt(x, 255 - y) : 255;
                    std::uint8_t* p = &picture.pixels[((std::size_t(ty) * 256 + y) * kWidth +
                                                       std::size_t(tx) * 256 + x) *
                                                      4];
                    p[0] = c.red;
                    p[1] = c.green;
                    p[2] = c.blue;
                    p[3] = alpha;
                }
            }
        }
    }
    return picture;
}

TEST_F(QuiltaraMake, CompositesLayTheHybridOverTheSatelliteImageAndAlphaKeepsItsTransparency) {
    test::DemoServerOptions hidden;
    hidden.hiddenColours = true;
    const test::DemoServer server(hidden);
    struct Case {
        const char* name;
        std::vector<std::string> options;
        const char* extension;
    };
    const Case cases[] = {
        {"streamed", {}, ".png"},
        {"in memory", {"--in-memory"}, ".png"},
        {"GeoTIFF", {"--format=tiff"}, ".tif"},
        {"alpha", {"--overlay=alpha"}, ".png"},
        // Last: its tiles are gone afterwards, but not its images.
        {"tiles deleted", {"--delete-tiles"}, ".png"},
    };
    Picture satellite;
    Picture hybrid;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path folder = out_ / c.name;
        fs::create_directory(folder);
        std::vector<std::string> args = AreaAndTemplates(server);
        args.insert(args.end(),
                    {"--layers=satellite,hybrid", "--subfolder-hybrid=labels",
                     "--composite=satellite+hybrid", "--existing=overwrite", "--keep-tiles",
                     "--quiet", "-o", (folder / (std::string("m") + c.extension)).string()});
        if (c.options == std::vector<std::string>{"--delete-tiles"}) {
            args.erase(std::find(args.begin(), args.end(), "--keep-tiles"));
        }
        args.insert(args.end(), c.options.begin(), c.options.end());
        const Finished made = Make(args);
        ASSERT_EQ(made.status, 0) << made.out << made.err;
        const fs::path composite = folder / (std::string("SatHyb_m") + c.extension);
        EXPECT_THAT(made.out, HasSubstr("satellite+hybrid image: " + composite.string()));
        if (satellite.pixels.empty()) {
            satellite = TilesOf(folder, "Sat_");
            hybrid = TilesOf(folder / "labels", "Hyb_");
        }
        const bool tiff = std::string(c.extension) == ".tif";
        const Picture image = tiff ? ReadTiff(composite) : ReadPng(composite);
        ASSERT_EQ(image.samples, 3); // over an opaque satellite image
        int hiddenSeen = 0;
        for (int y = 0; y < kHeight; ++y) {
            for (int x = 0; x < kWidth; ++x) {
                const std::uint8_t* s = satellite.At(x, y);
                const std::uint8_t* h = hybrid.At(x, y);
                const std::uint8_t* p = image.At(x, y);
                hiddenSeen += h[3] == 0 && (h[0] != 0 || h[1] != 0 || h[2] != 0);
                for (int i = 0; i < 3; ++i) {
                    const int want = (h[i] * h[3] + s[i] * (255 - h[3]) + 127) / 255;
                    ASSERT_EQ(p[i], want) << x << "," << y << " sample " << i;
                }
            }
        }
        EXPECT_GT(hiddenSeen, kWidth * kHeight / 2); // the colours the composite must not show
        EXPECT_TRUE(fs::exists(folder / (std::string("SatHyb_m") + (tiff ? ".tif" : ".pgw"))));
        if (std::string(c.name) == "alpha") {
            // The hybrid image alone keeps its transparency, with nothing under it.
            const Picture alone = ReadPng(folder / "labels" / "Hyb_m.png");
            ASSERT_EQ(alone.samples, 4);
            for (int y = 0; y < kHeight; ++y) {
                for (int x = 0; x < kWidth; ++x) {
                    const std::uint8_t* h = hybrid.At(x, y);
                    const std::uint8_t* p = alone.At(x, y);
                    const bool shown = h[3] != 0;
                    ASSERT_TRUE(p[3] == h[3] && p[0] == (shown ? h[0] : 0) &&
                                p[1] == (shown ? h[1] : 0) && p[2] == (shown ? h[2] : 0))
                        << x << "," << y;
                }
            }
        }
        if (std::string(c.name) == "tiles deleted") {
            EXPECT_FALSE(fs::exists(folder / ("Sat_" + TileFileName(10, 20, 5))));
            EXPECT_FALSE(fs::exists(folder / "labels" / ("Hyb_" + TileFileName(10, 20, 5))));
        }
    }
}

TEST_F(QuiltaraMake, ACompositeOfALayerNotDownloadedIsRefusedBeforeAnyTileIsFetched) {
    const test::DemoServer server;
    std::vector<std::string> args = AreaAndTemplates(server);
    args.insert(args.end(), {"--layers=satellite,hybrid", "--composite=map+hybrid", "--quiet", "-o",
                             (out_ / "m.png").string()});
    const Finished made = Make(args);
    EXPECT_EQ(made.status, 2);
    EXPECT_THAT(made.out + made.err,
                HasSubstr("The composite image of the hybrid layer over the map layer needs both "
                          "layers, but the map layer is not downloaded in this run."));
    EXPECT_TRUE(test::FilesBelow(out_).empty());
}

} // namespace
} // namespace quiltara::make

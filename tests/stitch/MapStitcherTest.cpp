#include "stitch/MapStitcher.h"

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>

#include "TestPaths.h"
#include "image/RasterImage.h"
#include "platform/ScriptedPrompts.h"

namespace quiltara {
namespace {

namespace fs = std::filesystem;

// A colour that tells tiles apart: red from the column, green from the row,
// blue from the layer.
RgbQuad TileColour(int x, int y, int layer) {
    return RgbQuad{static_cast<std::uint8_t>(40 * layer + 1),
                   static_cast<std::uint8_t>(30 * y + 20), static_cast<std::uint8_t>(30 * x + 10),
                   0};
}

const RgbQuad kMarker{255, 255, 255, 0};

// A 256 x 256 tile of one colour with a white mark in its top-left pixel,
// so that a tile pasted upside down or in the wrong square shows.
void WriteTile(const std::string& path, RgbQuad colour) {
    RasterImage tile(256, 256, 24, kFormatPng);
    ASSERT_TRUE(tile.HasPixels());
    for (int y = 0; y < 256; ++y) {
        for (int x = 0; x < 256; ++x) {
            tile.PutPixelColor(x, y, colour);
        }
    }
    tile.PutPixelColor(0, 255, kMarker); // y counts from the bottom row
    ASSERT_TRUE(tile.SaveFile(path, kFormatPng)) << tile.ErrorText();
}

// Colour of picture pixel (x, y) counted from the top left.
RgbQuad PictureColour(const RasterImage& image, int x, int y) {
    RgbQuad colour = image.PixelColor(x, image.Height() - 1 - y);
    colour.reserved = 0;
    return colour;
}

bool IsPng(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    char signature[8] = {};
    in.read(signature, 8);
    return in.gcount() == 8 && std::string(signature + 1, 3) == "PNG";
}

class MapStitcherTest : public ::testing::Test {
protected:
    void TearDown() override { SetPixelBlockLimit(0); }

    std::string Folder() const { return dir_.Path().string() + "/"; }

    // Writes the tiles of range for layer at zoom into its folder, leaving out
    // the one at (skipX, skipY).
    void WriteTiles(MapLayer layer, const std::string& subfolder, const TileRange& range, int zoom,
                    int skipX = -1, int skipY = -1) {
        const std::string folder = LayerFolder(Folder(), subfolder);
        fs::create_directories(folder);
        for (int x = range.xFirst; x <= range.xLast; ++x) {
            for (int y = range.yFirst; y <= range.yLast; ++y) {
                if (x == skipX && y == skipY) {
                    continue;
                }
                WriteTile(folder + LayerPrefix(layer) + TileFileName(x, y, zoom),
                          TileColour(x - range.xFirst, y - range.yFirst, static_cast<int>(layer)));
            }
        }
    }

    test::TempDir dir_;
    ScriptedPrompts prompts_;
    NullProgressSink progress_;
    const TileRange range_{10, 20, 12, 21}; // 3 x 2 tiles
};

TEST_F(MapStitcherTest, TilesLandInTheirSquaresOfOneImagePerLayer) {
    MapSourcesValues sources;
    sources[MapLayer::Map].download = true;
    sources[MapLayer::Satellite].download = true;
    sources[MapLayer::Satellite].subfolder = "sat";
    WriteTiles(MapLayer::Map, "", range_, 7);
    WriteTiles(MapLayer::Satellite, "sat", range_, 7);

    const std::vector<StitchedLayer> result =
        Stitch(Folder(), "london.png", sources, range_, 7, prompts_, progress_);

    EXPECT_TRUE(prompts_.Messages().empty());
    ASSERT_EQ(result.size(), 2u);
    EXPECT_EQ(result[0].path, Folder() + "Map_london.png");
    EXPECT_EQ(result[1].path, Folder() + "sat/Sat_london.png");
    for (const StitchedLayer& stitched : result) {
        EXPECT_TRUE(stitched.saved);
        EXPECT_FALSE(stitched.paletteMode);
        const RasterImage image(stitched.path, kFormatPng);
        ASSERT_TRUE(image.HasPixels()) << stitched.path;
        EXPECT_EQ(image.Width(), 768);
        EXPECT_EQ(image.Height(), 512);
        for (int tx = 0; tx < 3; ++tx) {
            for (int ty = 0; ty < 2; ++ty) {
                SCOPED_TRACE(testing::Message() << "tile " << tx << "," << ty);
                const RgbQuad colour = TileColour(tx, ty, static_cast<int>(stitched.layer));
                EXPECT_EQ(PictureColour(image, tx * 256, ty * 256), kMarker);
                EXPECT_EQ(PictureColour(image, tx * 256 + 1, ty * 256), colour);
                EXPECT_EQ(PictureColour(image, tx * 256 + 255, ty * 256 + 255), colour);
            }
        }
    }
    EXPECT_FALSE(fs::exists(Folder() + "Ter_london.png"));
}

TEST_F(MapStitcherTest, AMissingTileLeavesABlackSquareAndTheImageIsStillSaved) {
    MapSourcesValues sources;
    sources[MapLayer::Terrain].download = true;
    WriteTiles(MapLayer::Terrain, "", range_, 7, 11, 21);
    // An unreadable tile is skipped the same way.
    std::ofstream(Folder() + "Ter_" + TileFileName(12, 20, 7)) << "<html>not found</html>";

    const std::vector<StitchedLayer> result =
        Stitch(Folder(), "map.png", sources, range_, 7, prompts_, progress_);

    EXPECT_TRUE(prompts_.Messages().empty());
    ASSERT_EQ(result.size(), 1u);
    const RasterImage image(Folder() + "Ter_map.png", kFormatPng);
    ASSERT_TRUE(image.HasPixels());
    const RgbQuad black{0, 0, 0, 0};
    EXPECT_EQ(PictureColour(image, 256, 256), black);
    EXPECT_EQ(PictureColour(image, 511, 511), black);
    EXPECT_EQ(PictureColour(image, 512, 0), black);
    EXPECT_EQ(PictureColour(image, 0, 256), kMarker);
    EXPECT_EQ(PictureColour(image, 600, 300), TileColour(2, 1, 2));
    // Both are listed, in the order the tiles are pasted.
    const std::vector<TileProblem>& problems = result[0].tileProblems;
    ASSERT_EQ(problems.size(), 2u);
    EXPECT_EQ(problems[0].path, Folder() + "Ter_" + TileFileName(11, 21, 7));
    EXPECT_EQ(problems[0].kind, TileProblem::Kind::Missing);
    EXPECT_EQ(problems[1].path, Folder() + "Ter_" + TileFileName(12, 20, 7));
    EXPECT_EQ(problems[1].kind, TileProblem::Kind::Unreadable);
}

// A tile of one colour and the given size.
void WriteSolidTile(const std::string& path, int width, int height, RgbQuad colour) {
    RasterImage tile(static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height), 24,
                     kFormatPng);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            tile.PutPixelColor(x, y, colour);
        }
    }
    ASSERT_TRUE(tile.SaveFile(path, kFormatPng)) << tile.ErrorText();
}

TEST_F(MapStitcherTest, EveryTileGoesIntoItsOwnSquareWhateverItsSize) {
    MapSourcesValues sources;
    sources[MapLayer::Map].download = true;
    WriteTiles(MapLayer::Map, "", range_, 7);
    const auto tilePath = [&](int x, int y) { return Folder() + "Map_" + TileFileName(x, y, 7); };
    // A 512 x 512 palette tile in square (1, 0): a mark in its top left
    // pixel, the pixel beside it transparent.
    const RgbQuad big{10, 200, 30, 0};
    RasterImage large(512, 512, 8, kFormatPng);
    large.SetPaletteEntry(1, big);
    large.SetPaletteEntry(2, kMarker);
    for (int y = 0; y < 512; ++y) {
        for (int x = 0; x < 512; ++x) {
            large.PutPixelIndex(x, y, 1);
        }
    }
    large.PutPixelIndex(0, 511, 2);
    large.PutPixelIndex(1, 511, 0);
    large.SetTransparentIndex(0);
    ASSERT_TRUE(large.SaveFile(tilePath(11, 20), kFormatPng));
    const RgbQuad small{200, 10, 10, 0};
    const RgbQuad dot{5, 5, 250, 0};
    WriteSolidTile(tilePath(10, 21), 100, 50, small);
    WriteSolidTile(tilePath(12, 21), 1, 1, dot);

    const std::vector<StitchedLayer> result =
        Stitch(Folder(), "m.png", sources, range_, 7, prompts_, progress_);
    const RasterImage image(Folder() + "Map_m.png", kFormatPng);
    ASSERT_TRUE(image.HasPixels());
    const RgbQuad black{0, 0, 0, 0};
    // The large tile's top left square only, its transparency kept.
    EXPECT_EQ(PictureColour(image, 256, 0), kMarker);
    EXPECT_EQ(PictureColour(image, 257, 0), black);
    EXPECT_EQ(PictureColour(image, 258, 0), big);
    EXPECT_EQ(PictureColour(image, 511, 255), big);
    // Its neighbours to the right and below are their own tiles.
    EXPECT_EQ(PictureColour(image, 512, 0), kMarker);
    EXPECT_EQ(PictureColour(image, 600, 100), TileColour(2, 0, 0));
    EXPECT_EQ(PictureColour(image, 256, 256), kMarker);
    EXPECT_EQ(PictureColour(image, 300, 300), TileColour(1, 1, 0));
    // Small tiles fill their square from its top left; the rest stays black.
    EXPECT_EQ(PictureColour(image, 0, 256), small);
    EXPECT_EQ(PictureColour(image, 99, 305), small);
    EXPECT_EQ(PictureColour(image, 100, 256), black);
    EXPECT_EQ(PictureColour(image, 0, 306), black);
    EXPECT_EQ(PictureColour(image, 512, 256), dot);
    EXPECT_EQ(PictureColour(image, 513, 256), black);
    EXPECT_EQ(PictureColour(image, 767, 511), black);

    ASSERT_EQ(result.size(), 1u);
    const std::vector<TileProblem>& problems = result[0].tileProblems;
    ASSERT_EQ(problems.size(), 3u);
    const int sizes[3][2] = {{100, 50}, {512, 512}, {1, 1}};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(problems[i].kind, TileProblem::Kind::OffSize);
        EXPECT_EQ(problems[i].width, sizes[i][0]);
        EXPECT_EQ(problems[i].height, sizes[i][1]);
    }
    EXPECT_EQ(problems[1].path, tilePath(11, 20));
    EXPECT_NE(TileProblemsText(problems).find(tilePath(11, 20) + ": 512 x 512 pixels"),
              std::string::npos);
}

// Files may grow no larger than `bytes` while it lives: a disk that fills up.
class FullDisk {
public:
    explicit FullDisk(rlim_t bytes) {
        previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &previous_);
        rlimit limited = previous_;
        limited.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limited);
    }
    ~FullDisk() {
        setrlimit(RLIMIT_FSIZE, &previous_);
        std::signal(SIGXFSZ, previousHandler_);
    }
    FullDisk(const FullDisk&) = delete;
    FullDisk& operator=(const FullDisk&) = delete;

private:
    rlimit previous_{};
    void (*previousHandler_)(int) = nullptr;
};

TEST_F(MapStitcherTest, AFailedSaveLeavesTheEarlierImageAsItWas) {
    MapSourcesValues sources;
    sources[MapLayer::Map].download = true;
    const TileRange one{0, 0, 0, 0};
    // Noise, so that the image cannot shrink below the disk's room.
    RasterImage noise(256, 256, 24, kFormatPng);
    std::uint32_t seed = 12345;
    for (int y = 0; y < 256; ++y) {
        for (int x = 0; x < 256; ++x) {
            seed = seed * 1664525u + 1013904223u;
            noise.PutPixelColor(x, y,
                                RgbQuad{static_cast<std::uint8_t>(seed >> 24),
                                        static_cast<std::uint8_t>(seed >> 16),
                                        static_cast<std::uint8_t>(seed >> 8), 0});
        }
    }
    ASSERT_TRUE(noise.SaveFile(Folder() + "Map_" + TileFileName(0, 0, 1), kFormatPng));
    const std::string earlier = Folder() + "Map_m.png";
    std::ofstream(earlier, std::ios::binary) << "an earlier map image";
    {
        const FullDisk full(16384);
        const std::vector<StitchedLayer> result =
            Stitch(Folder(), "m.png", sources, one, 1, prompts_, progress_);
        ASSERT_EQ(result.size(), 1u);
        EXPECT_TRUE(result[0].created);
        EXPECT_FALSE(result[0].saved);
        // The system's reason is named.
        EXPECT_EQ(result[0].saveError, "Error saving PNG file: Write Error: File too large");
    }
    std::ifstream in(earlier, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "an earlier map image");
    const std::set<std::string> files = {"Map_" + TileFileName(0, 0, 1), "Map_m.png"};
    EXPECT_EQ(test::FilesBelow(dir_.Path()), files) << "the temporary file must be gone";

    // With room on the disk the new image replaces the earlier one.
    const std::vector<StitchedLayer> again =
        Stitch(Folder(), "m.png", sources, one, 1, prompts_, progress_);
    EXPECT_TRUE(again[0].saved) << again[0].saveError;
    const RasterImage image(earlier, kFormatPng);
    ASSERT_TRUE(image.HasPixels());
    EXPECT_EQ(image.PixelColor(7, 9), noise.PixelColor(7, 9));
    EXPECT_EQ(test::FilesBelow(dir_.Path()), files);
}

TEST_F(MapStitcherTest, AnImageNamedJpgHoldsPngData) {
    MapSourcesValues sources;
    sources[MapLayer::Map].download = true;
    const TileRange one{0, 0, 0, 0};
    WriteTiles(MapLayer::Map, "", one, 1);
    Stitch(Folder(), "photo.jpg", sources, one, 1, prompts_, progress_);
    EXPECT_TRUE(IsPng(Folder() + "Map_photo.jpg"));
}

TEST_F(MapStitcherTest, TransparentTilePixelsLeaveTheImageAsItWas) {
    MapSourcesValues sources;
    sources[MapLayer::Hybrid].download = true;
    const TileRange one{0, 0, 0, 0};
    // A palette tile whose index 0 is transparent: a red square on "nothing"
    // that itself holds a dark red.
    RasterImage tile(256, 256, 8, kFormatPng);
    tile.SetPaletteEntry(0, RgbQuad{0, 0, 200, 0});
    tile.SetPaletteEntry(2, RgbQuad{0, 0, 255, 0});
    for (int y = 100; y < 150; ++y) {
        for (int x = 100; x < 150; ++x) {
            tile.PutPixelIndex(x, y, 2);
        }
    }
    tile.SetTransparentIndex(0);
    ASSERT_TRUE(tile.SaveFile(Folder() + "Hyb_" + TileFileName(0, 0, 3), kFormatPng));

    Stitch(Folder(), "h.png", sources, one, 3, prompts_, progress_);
    const RasterImage image(Folder() + "Hyb_h.png", kFormatPng);
    ASSERT_TRUE(image.HasPixels());
    EXPECT_EQ(image.PixelColor(10, 10).red, 0); // transparent: still black
    EXPECT_EQ(image.PixelColor(120, 120).red, 255);
}

TEST_F(MapStitcherTest, WhenNoImageCanBeMadeTheStitchStopsWithTheSize) {
    MapSourcesValues sources;
    sources[MapLayer::Map].download = true;
    sources[MapLayer::Hybrid].download = true;
    WriteTiles(MapLayer::Map, "", range_, 7);
    WriteTiles(MapLayer::Hybrid, "", range_, 7);
    SetPixelBlockLimit(1000);
    const std::vector<StitchedLayer> result =
        Stitch(Folder(), "m.png", sources, range_, 7, prompts_, progress_);

    const std::vector<std::string> expected = {
        kRgbModeFailedMessage,
        "Could not create output image in 256 colour mode.  This is most likely because of a "
        "memory limitation on your PC.  The image you are trying to create is 768 x 512 pixels "
        "in size, and would require 0 MB to create: RasterImage::Create can't allocate memory",
    };
    EXPECT_EQ(prompts_.Texts(), expected);
    ASSERT_EQ(result.size(), 2u);
    for (const StitchedLayer& stitched : result) {
        EXPECT_FALSE(stitched.created);
        EXPECT_FALSE(fs::exists(stitched.path));
    }
}

TEST_F(MapStitcherTest, TheFailureReportsLargeImagesInFullMegabytes) {
    MapSourcesValues sources;
    sources[MapLayer::Map].download = true;
    SetPixelBlockLimit(1000);
    Stitch(Folder(), "m.png", sources, TileRange{0, 0, 195, 155}, 9, prompts_, progress_);
    ASSERT_EQ(prompts_.Texts().size(), 2u);
    EXPECT_NE(prompts_.Texts()[1].find(
                  " 50176 x 39936 pixels in size, and would require 1911 MB to create: "),
              std::string::npos);

    // Beyond what 32 bits can count.
    EXPECT_NE(PaletteModeFailedText(65536, 65536, "x")
                  .find(" 65536 x 65536 pixels in size, "
                        "and would require 4096 MB to create: x"),
              std::string::npos);
}

} // namespace
} // namespace quiltara

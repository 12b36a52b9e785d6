#include "StreamingTiles.h"

#include <fstream>
#include <random>

#include "platform/ScriptedPrompts.h"
#include "stitch/MapStitcher.h"

namespace quiltara::test {

void Paint(RasterImage& image, std::uint32_t seed) {
    std::mt19937 random(seed);
    for (int y = 0; y < image.Height(); ++y) {
        for (int x = 0; x < image.Width(); ++x) {
            const std::uint32_t v = random();
            const bool flat = (x / 32 + y / 32) % 2 == 0;
            image.PutPixelColor(
                x, y,
                flat ? RgbQuad{40, 90, static_cast<std::uint8_t>(seed), 0}
                     : RgbQuad{static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
                               static_cast<std::uint8_t>(v >> 16), 0});
        }
    }
}

void TileFolder::Rgb(int x, int y, int width, int height) {
    RasterImage tile(width, height, 24, kFormatPng);
    Paint(tile, static_cast<std::uint32_t>(x * 31 + y));
    Save(tile, x, y, kFormatPng);
}

void TileFolder::Jpeg(int x, int y) {
    RasterImage tile(256, 256, 24, kFormatJpeg);
    Paint(tile, 77);
    Save(tile, x, y, kFormatJpeg);
}

void TileFolder::Palette(int x, int y) {
    RasterImage tile(256, 256, 8, kFormatPng);
    for (int i = 0; i < 256; ++i) {
        tile.SetPaletteEntry(
            static_cast<std::uint8_t>(i),
            RgbQuad{static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(255 - i), 60, 0});
    }
    for (int row = 0; row < 256; ++row) {
        for (int col = 0; col < 256; ++col) {
            tile.PutPixelIndex(col, row, static_cast<std::uint8_t>((col ^ row) & 0xFF));
        }
    }
    tile.SetTransparentIndex(5);
    Save(tile, x, y, kFormatPng);
}

void TileFolder::Hybrid(int x, int y) {
    RasterImage tile(256, 256, 24, kFormatPng);
    Paint(tile, 5);
    tile.CreateAlpha();
    for (int row = 0; row < 256; ++row) {
        for (int col = 0; col < 256; ++col) {
            tile.SetAlphaAt(col, row, (col % 40 < 6 || row % 50 < 4) ? 255 : 0);
        }
    }
    Save(tile, x, y, kFormatPng);
}

void TileFolder::Garbage(int x, int y) {
    std::ofstream(Path(x, y)) << "<html>404</html>";
}

void TileFolder::Save(RasterImage& tile, int x, int y, std::uint32_t format) {
    ASSERT_TRUE(tile.SaveFile(Path(x, y).string(), format)) << tile.ErrorText();
}

RasterImage StreamingStitcherTest::InMemory(int xLast, int yLast) {
    MapSourcesValues sources;
    sources[MapLayer::Map].download = true;
    ScriptedPrompts prompts;
    NullProgressSink progress;
    const std::vector<StitchedLayer> made =
        Stitch(tiles_.Folder(), "memory.png", sources, TileRange{0, 0, xLast, yLast},
               kStreamingZoom, prompts, progress);
    EXPECT_TRUE(made.at(0).saved);
    inMemoryProblems_ = made.at(0).tileProblems;
    return RasterImage(made.at(0).path, kFormatPng);
}

void StreamingStitcherTest::ExpectSameProblems(const std::vector<TileProblem>& problems) const {
    ASSERT_EQ(problems.size(), inMemoryProblems_.size());
    for (std::size_t i = 0; i < problems.size(); ++i) {
        EXPECT_EQ(problems[i].path, inMemoryProblems_[i].path);
        EXPECT_EQ(problems[i].kind, inMemoryProblems_[i].kind) << problems[i].path;
        EXPECT_EQ(problems[i].width, inMemoryProblems_[i].width) << problems[i].path;
        EXPECT_EQ(problems[i].height, inMemoryProblems_[i].height) << problems[i].path;
    }
}

} // namespace quiltara::test

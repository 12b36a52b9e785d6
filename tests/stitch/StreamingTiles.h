#pragma once

// What the streaming stitcher's tests share: tiles of every kind a map
// service sends, and the in-memory stitcher's image of them to compare with.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "TestPaths.h"
#include "image/RasterImage.h"
#include "stitch/StreamingStitcher.h"

namespace quiltara::test {

inline constexpr int kStreamingZoom = 7;

// Noise, so that every row filter and real deflate work is exercised, with
// flat stretches where matches reach back across rows and parts.
void Paint(RasterImage& image, std::uint32_t seed);

// Tiles of every kind a map service sends, under the map layer's names.
class TileFolder {
public:
    std::filesystem::path Path(int x, int y) const {
        return dir_ / ("Map_" + TileFileName(x, y, kStreamingZoom));
    }
    std::string Folder() const { return dir_.Path().string() + "/"; }

    void Rgb(int x, int y, int width = 256, int height = 256);
    void Jpeg(int x, int y);
    // Palette tile whose entry 5 is its one transparent colour.
    void Palette(int x, int y);
    // A hybrid overlay: RGBA, transparent outside a few strokes.
    void Hybrid(int x, int y);
    void Garbage(int x, int y);

private:
    void Save(RasterImage& tile, int x, int y, std::uint32_t format);

    TempDir dir_;
};

class StreamingStitcherTest : public ::testing::Test {
protected:
    LayerTiles Tiles(int xLast, int yLast) const {
        return LayerTiles{
            tiles_.Folder(), MapLayer::Map, TileRange{0, 0, xLast, yLast}, kStreamingZoom, {}};
    }

    // The in-memory stitcher's image of the same tiles, read back.
    RasterImage InMemory(int xLast, int yLast);

    // The streamed layer lists the same tiles as the in-memory stitcher did.
    void ExpectSameProblems(const std::vector<TileProblem>& problems) const;

    std::vector<TileProblem> inMemoryProblems_;

    TileFolder tiles_;
    TempDir out_;
};

} // namespace quiltara::test

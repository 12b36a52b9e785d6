#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "TileRequest.h"

namespace demomap {

inline constexpr int kTileSize = 256;

struct Rgba {
    std::uint8_t r = 0;
    std::uint8_t g = 0;
    std::uint8_t b = 0;
    std::uint8_t a = 255;
};

// A tile's pixels, rows top to bottom.
struct TileCanvas {
    int width = kTileSize;
    int height = kTileSize;
    std::vector<Rgba> pixels = std::vector<Rgba>(kTileSize * kTileSize);

    Rgba& At(int px, int py) { return pixels[static_cast<size_t>(py) * width + px]; }
    const Rgba& At(int px, int py) const { return pixels[static_cast<size_t>(py) * width + px]; }
};

// The terrain layer is drawn with these colours only, so that it can be
// stored as a palette image.
const std::vector<Rgba>& TerrainPalette();

// Draws one tile. Everything but the label is a function of the world pixel
// position at the tile's zoom (a graticule of longitude and latitude lines,
// diagonal "roads", colour gradients), so neighbouring tiles join seamlessly
// and a misplaced tile breaks the lines; the label ("z=3", "x=5", "y=7" and
// the layer) is drawn with mirror-asymmetric glyphs, so a flipped tile shows.
TileCanvas DrawTile(const TileRequest& tile);

// Gives every fully transparent pixel a loud colour of its own (stripes of
// magenta and green): what a map image shows when it pastes a label tile
// without looking at its alpha.
void HideColours(TileCanvas& canvas);

// Draws text with a 5x7 pixel font at the given scale, with a one-pixel halo.
void DrawLabel(TileCanvas& canvas, int left, int top, const char* text, int scale, Rgba ink,
               Rgba halo);

} // namespace demomap

#pragma once

#include <string>

#include "TileArt.h"

namespace demomap {

// How a tile is stored, as the real service sends each layer.
enum class TileEncoding {
    RgbPng,     // road map
    Jpeg,       // satellite
    PalettePng, // terrain: the canvas must use TerrainPalette() colours only
    RgbaPng,    // hybrid overlay, transparent background
};

// The encoded bytes; throws std::runtime_error when the codec library fails.
// comment: when not empty, stored in a tEXt chunk (PNG only), which lets a
// caller pad a file to an exact size.
std::string EncodeTile(const TileCanvas& canvas, TileEncoding encoding,
                       const std::string& comment = {});

// A small valid RGB PNG of exactly `size` bytes (padded with a text chunk);
// throws std::invalid_argument when size is below the smallest such file.
std::string PaddedPng(size_t size);

} // namespace demomap

#pragma once

#include <cstdint>
#include <filesystem>

#include "image/RasterImage.h"

namespace quiltara {

// Tiles are map tiles, 256 x 256 pixels. A file whose header declares more
// than this is no tile, and is refused before anything is allocated for it.
inline constexpr std::uint32_t kLargestTileSide = 4096;

// Reads a tile file as every reader of tiles does (the download check and
// the stitchers alike): whatever its name says, through every reader the
// image library has, refused when larger than a tile can be or when its
// data ends before the last row (a tile kept from an interrupted transfer
// would otherwise go into the map with blank rows). The caller tests
// HasPixels().
bool LoadTile(RasterImage& tile, const std::filesystem::path& file);

// Whether anything (a file, a folder, a dangling link) is at path: what tells
// a tile that is missing from one that is there but cannot be used.
bool AnythingAt(const std::filesystem::path& path);

// Side of the square a tile fills in a map image.
inline constexpr std::int64_t kTileSide = 256;

// The tile's top left kTileSide x kTileSide pixels (fewer where the tile is
// smaller): the part of a larger tile that belongs to its own square.
// Palette, transparency and alpha go along. False when the copy cannot be
// made.
bool CropTile(const RasterImage& tile, RasterImage& cell);

} // namespace quiltara

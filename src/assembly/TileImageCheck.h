#pragma once

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

// Decides whether a downloaded tile file is a usable image.
class TileImageCheck {
public:
    virtual ~TileImageCheck() = default;

    // True when the file decodes to an image with pixels.
    virtual bool IsUsableImage(const std::filesystem::path& file) const = 0;
};

// The check through our own image library: every reader it has is tried on
// the file's content (PNG, JPEG, GIF and BMP at least), whatever the file's
// name says, so JPEG data stored under a .png name passes. A tile whose data
// ends before its last row fails, although the readers would pad it.
class RasterImageCheck : public TileImageCheck {
public:
    bool IsUsableImage(const std::filesystem::path& file) const override;
};

} // namespace quiltara

#pragma once

#include <filesystem>

#include "image/TileFile.h"

namespace quiltara {

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

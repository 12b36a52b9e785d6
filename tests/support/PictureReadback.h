#pragma once

// A written map image read back as plain rows for pixel comparisons: PNG
// through the program's own reader, GeoTIFF tile by tile through libtiff.
#include <gtest/gtest.h>
#include <tiffio.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <vector>

#include "image/RasterImage.h"

namespace quiltara::test {

// Red, green, blue (and alpha) rows from the top.
struct Picture {
    int width = 0;
    int samples = 0;
    std::vector<std::uint8_t> pixels;

    const std::uint8_t* At(int x, int y) const {
        return &pixels[(std::size_t(y) * std::size_t(width) + std::size_t(x)) *
                       std::size_t(samples)];
    }
};

// The PNG at path, which must be width x height (a failure of the test otherwise).
inline Picture ReadPngPicture(const std::filesystem::path& path, int width, int height) {
    const RasterImage image(path.string(), kFormatPng);
    Picture picture;
    if (!image.HasPixels() || image.Width() != width || image.Height() != height) {
        ADD_FAILURE() << path << " is not a " << width << " x " << height << " image";
        return picture;
    }
    picture.width = width;
    picture.samples = image.HasAlpha() ? 4 : 3;
    for (int y = height - 1; y >= 0; --y) { // the image's rows run from the bottom
        for (int x = 0; x < width; ++x) {
            const RgbQuad c = image.PixelColor(x, y);
            picture.pixels.insert(picture.pixels.end(), {c.red, c.green, c.blue});
            if (image.HasAlpha()) {
                picture.pixels.push_back(image.AlphaAt(x, y));
            }
        }
    }
    return picture;
}

// The tiled TIFF at path, width x height in whole 256 x 256 tiles.
inline Picture ReadTiffPicture(const std::filesystem::path& path, int width, int height) {
    Picture picture;
    const std::unique_ptr<TIFF, void (*)(TIFF*)> tif(TIFFOpen(path.c_str(), "r"), TIFFClose);
    std::uint16_t samples = 0;
    if (!tif || !TIFFGetField(tif.get(), TIFFTAG_SAMPLESPERPIXEL, &samples)) {
        ADD_FAILURE() << path << " is no TIFF";
        return picture;
    }
    picture.width = width;
    picture.samples = samples;
    picture.pixels.resize(std::size_t(width) * std::size_t(height) * samples);
    std::vector<std::uint8_t> tile(std::size_t{256} * 256 * samples);
    for (int ty = 0; ty < height / 256; ++ty) {
        for (int tx = 0; tx < width / 256; ++tx) {
            EXPECT_GT(
                TIFFReadEncodedTile(tif.get(), TIFFComputeTile(tif.get(), tx * 256, ty * 256, 0, 0),
                                    tile.data(), static_cast<tmsize_t>(tile.size())),
                0);
            for (int r = 0; r < 256; ++r) {
                std::copy_n(&tile[std::size_t(r) * 256 * samples], 256 * samples,
                            &picture.pixels[((std::size_t(ty) * 256 + r) * std::size_t(width) +
                                             std::size_t(tx) * 256) *
                                            samples]);
            }
        }
    }
    return picture;
}

} // namespace quiltara::test

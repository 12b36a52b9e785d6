// Tiles with transparency in the map images: every kind of transparency a
// tile file carries, through both stitchers, as PNG (over black or with
// alpha) and as GeoTIFF, each pixel compared with the tile's own colour and
// opacity.
#include <gtest/gtest.h>
#include <tiffio.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "PictureReadback.h"
#include "TestPaths.h"
#include "image/RasterImage.h"
#include "platform/ScriptedPrompts.h"
#include "stitch/MapStitcher.h"
#include "stitch/StreamingStitcher.h"

namespace quiltara {
namespace {

constexpr int kZoom = 4;
constexpr int kSide = 256;

struct Rgba {
    std::uint8_t red = 0, green = 0, blue = 0, alpha = 255;
};

// The colour a tile stores at (x, y) from its top left, whatever its opacity.
Rgba Stored(int x, int y) {
    return Rgba{static_cast<std::uint8_t>(x * 7 + y), static_cast<std::uint8_t>(200 - y),
                static_cast<std::uint8_t>(x ^ y), 255};
}

// One kind of tile: how it is made, and its colour and opacity at (x, y).
struct TileKind {
    const char* name;
    bool transparent; // the layer's images keep an alpha channel where asked
    std::function<void(RasterImage&)> make;
    std::function<Rgba(int, int)> pixel;
};

// A true-colour tile with an alpha plane of opacity(x, y).
TileKind AlphaTile(const char* name, std::function<std::uint8_t(int, int)> opacity) {
    return TileKind{
        name, true,
        [opacity](RasterImage& tile) {
            tile.Create(kSide, kSide, 24, kFormatPng);
            tile.CreateAlpha();
            for (int y = 0; y < kSide; ++y) {
                for (int x = 0; x < kSide; ++x) {
                    const Rgba c = Stored(x, y);
                    tile.PutPixelColor(x, kSide - 1 - y, RgbQuad{c.blue, c.green, c.red, 0});
                    tile.SetAlphaAt(x, kSide - 1 - y, opacity(x, y));
                }
            }
        },
        [opacity](int x, int y) {
            Rgba c = Stored(x, y);
            c.alpha = opacity(x, y);
            return c;
        }};
}

// A palette tile of index (x ^ y), entry i coloured (i, 255 - i, 60); index
// 5 transparent, or every entry's opacity its index.
TileKind PaletteTile(const char* name, bool entryOpacity) {
    const auto colour = [entryOpacity](int x, int y) {
        const auto i = static_cast<std::uint8_t>(x ^ y);
        return Rgba{i, static_cast<std::uint8_t>(255 - i), 60,
                    entryOpacity ? i : static_cast<std::uint8_t>(i == 5 ? 0 : 255)};
    };
    return TileKind{
        name, true,
        [entryOpacity](RasterImage& tile) {
            tile.Create(kSide, kSide, 8, kFormatPng);
            for (int i = 0; i < 256; ++i) {
                const auto b = static_cast<std::uint8_t>(i);
                tile.SetPaletteEntry(b, RgbQuad{60, static_cast<std::uint8_t>(255 - i), b,
                                                entryOpacity ? b : std::uint8_t{255}});
            }
            for (int y = 0; y < kSide; ++y) {
                for (int x = 0; x < kSide; ++x) {
                    tile.PutPixelIndex(x, kSide - 1 - y, static_cast<std::uint8_t>(x ^ y));
                }
            }
            tile.SetPaletteHasAlpha(entryOpacity);
            tile.SetTransparentIndex(entryOpacity ? -1 : 5);
        },
        colour};
}

std::vector<TileKind> Kinds() {
    TileKind opaque{
        "opaque", false,
        [](RasterImage& tile) {
            tile.Create(kSide, kSide, 24, kFormatPng);
            for (int y = 0; y < kSide; ++y) {
                for (int x = 0; x < kSide; ++x) {
                    const Rgba c = Stored(x, y);
                    tile.PutPixelColor(x, kSide - 1 - y, RgbQuad{c.blue, c.green, c.red, 0});
                }
            }
        },
        Stored};
    return {
        AlphaTile("alpha 0 under colour",
                  [](int x, int y) { return (x / 32 + y / 32) % 2 ? 255 : 0; }),
        AlphaTile("partial alpha", [](int x, int y) { return std::uint8_t(x + y); }),
        PaletteTile("transparent palette index", false),
        PaletteTile("palette opacity", true),
        opaque,
    };
}

// Colour c of opacity a over black.
std::uint8_t OverBlack(std::uint8_t c, std::uint8_t a) {
    return static_cast<std::uint8_t>((c * a + 127) / 255);
}

using test::Picture;

Picture ReadPng(const std::string& path) {
    return test::ReadPngPicture(path, kSide, kSide);
}

Picture ReadTiff(const std::string& path) {
    return test::ReadTiffPicture(path, kSide, kSide);
}

// How an image is made and read back.
struct Output {
    const char* name;
    bool inMemory;
    ImageFileFormat format;
    OverlayOutput overlay;
};

TEST(TransparentTiles, TransparentPixelsStayBlackOrBecomeTheImagesAlpha) {
    const Output outputs[] = {
        {"in memory, over black", true, ImageFileFormat::Png, OverlayOutput::Black},
        {"in memory, alpha", true, ImageFileFormat::Png, OverlayOutput::Alpha},
        {"streamed PNG, over black", false, ImageFileFormat::Png, OverlayOutput::Black},
        {"streamed PNG, alpha", false, ImageFileFormat::Png, OverlayOutput::Alpha},
        {"streamed GeoTIFF", false, ImageFileFormat::GeoTiff, OverlayOutput::Black},
    };
    for (const TileKind& kind : Kinds()) {
        test::TempDir dir;
        RasterImage tile(kFormatPng);
        kind.make(tile);
        ASSERT_TRUE(
            tile.SaveFile((dir / ("Map_" + TileFileName(0, 0, kZoom))).string(), kFormatPng));
        for (const Output& output : outputs) {
            SCOPED_TRACE(std::string(kind.name) + ", " + output.name);
            const std::string path = (dir / (std::string(output.name) + ".img")).string();
            if (output.inMemory) {
                MapSourcesValues sources;
                sources[MapLayer::Map].download = true;
                ScriptedPrompts prompts;
                NullProgressSink progress;
                InMemoryStitcher stitcher(output.overlay);
                const auto made =
                    stitcher.StitchLayers(dir.Path().string() + "/", "x.png", sources,
                                          TileRange{0, 0, 0, 0}, kZoom, prompts, progress, nullptr);
                ASSERT_TRUE(made.at(0).saved);
                std::filesystem::rename(made.at(0).path, path);
            } else {
                StreamingOptions options;
                options.format = output.format;
                options.overlay = output.overlay;
                const LayerTiles tiles{
                    dir.Path().string() + "/", MapLayer::Map, TileRange{0, 0, 0, 0}, kZoom, {}};
                ASSERT_TRUE(StreamLayerImageToFile(tiles, path, options).written);
            }
            const bool tiff = output.format == ImageFileFormat::GeoTiff;
            const Picture picture = tiff ? ReadTiff(path) : ReadPng(path);
            const bool withAlpha =
                kind.transparent && (tiff || output.overlay == OverlayOutput::Alpha);
            ASSERT_EQ(picture.samples, withAlpha ? 4 : 3);
            // The alpha PNG keeps the colour as it is; over black, and in the
            // GeoTIFF's premultiplied colour, it is mixed with black.
            const bool straight = withAlpha && !tiff;
            for (int y = 0; y < kSide; ++y) {
                for (int x = 0; x < kSide; ++x) {
                    const Rgba c = kind.pixel(x, y);
                    Rgba want{OverBlack(c.red, c.alpha), OverBlack(c.green, c.alpha),
                              OverBlack(c.blue, c.alpha), c.alpha};
                    if (straight && c.alpha != 0) {
                        want = c;
                    }
                    const std::uint8_t* p =
                        &picture
                             .pixels[(std::size_t(y) * kSide + x) * std::size_t(picture.samples)];
                    ASSERT_TRUE(p[0] == want.red && p[1] == want.green && p[2] == want.blue &&
                                (!withAlpha || p[3] == want.alpha))
                        << "at " << x << "," << y << ": " << int(p[0]) << " " << int(p[1]) << " "
                        << int(p[2]) << " want " << int(want.red) << " " << int(want.green) << " "
                        << int(want.blue) << " " << int(want.alpha);
                }
            }
        }
    }
}

} // namespace
} // namespace quiltara

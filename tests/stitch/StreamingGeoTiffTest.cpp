// The streaming stitcher's GeoTIFF: the PNG's pixels, its overviews, its
// transparency and its place, read back by libtiff and libgeotiff.
#include "stitch/StreamingStitcher.h"

#include <geotiff/geotiffio.h>
#include <geotiff/xtiffio.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <memory>

#include "StreamingTiles.h"
#include "TestPaths.h"
#include "image/GeoTiffWriter.h"
#include "image/RasterImage.h"
#include "image/RgbaReadback.h"

namespace quiltara {
namespace {

namespace fs = std::filesystem;
using test::StreamingStitcherTest;

constexpr int kZoom = test::kStreamingZoom;

// A GeoTIFF as libtiff and libgeotiff read it: every level's pixels (rows
// from the top, samples interleaved) and the first directory's place.
struct GeoTiffRead {
    struct Level {
        std::uint32_t width = 0;
        std::uint32_t height = 0;
        std::vector<std::uint8_t> pixels;
    };
    std::vector<Level> levels;
    int samples = 0;
    int compression = 0;
    bool associatedAlpha = false;
    std::vector<double> tiePoint;
    std::vector<double> scale;
    int projection = 0;
};

GeoTiffRead ReadGeoTiff(const fs::path& path) {
    GeoTiffRead read;
    const std::unique_ptr<TIFF, void (*)(TIFF*)> tif(XTIFFOpen(path.c_str(), "r"), XTIFFClose);
    if (!tif) {
        return read;
    }
    std::uint16_t count = 0;
    double* values = nullptr;
    if (TIFFGetField(tif.get(), TIFFTAG_GEOTIEPOINTS, &count, &values)) {
        read.tiePoint.assign(values, values + count);
    }
    if (TIFFGetField(tif.get(), TIFFTAG_GEOPIXELSCALE, &count, &values)) {
        read.scale.assign(values, values + count);
    }
    const std::unique_ptr<GTIF, void (*)(GTIF*)> keys(GTIFNew(tif.get()), GTIFFree);
    geocode_t projection = 0;
    if (keys && GTIFKeyGet(keys.get(), ProjectedCSTypeGeoKey, &projection, 0, 1) == 1) {
        read.projection = projection;
    }
    do {
        std::uint32_t width = 0, height = 0, tileWidth = 0, tileHeight = 0;
        std::uint16_t samples = 0, compression = 0, extraCount = 0;
        std::uint16_t* extra = nullptr;
        TIFFGetField(tif.get(), TIFFTAG_IMAGEWIDTH, &width);
        TIFFGetField(tif.get(), TIFFTAG_IMAGELENGTH, &height);
        TIFFGetField(tif.get(), TIFFTAG_TILEWIDTH, &tileWidth);
        TIFFGetField(tif.get(), TIFFTAG_TILELENGTH, &tileHeight);
        TIFFGetField(tif.get(), TIFFTAG_SAMPLESPERPIXEL, &samples);
        TIFFGetField(tif.get(), TIFFTAG_COMPRESSION, &compression);
        read.associatedAlpha = TIFFGetField(tif.get(), TIFFTAG_EXTRASAMPLES, &extraCount, &extra) &&
                               extraCount == 1 && extra[0] == EXTRASAMPLE_ASSOCALPHA;
        EXPECT_EQ(tileWidth, 256u);
        EXPECT_EQ(tileHeight, 256u);
        if (compression == COMPRESSION_JPEG) {
            TIFFSetField(tif.get(), TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
        }
        read.samples = samples;
        read.compression = compression;
        GeoTiffRead::Level level{width, height,
                                 std::vector<std::uint8_t>(std::size_t{width} * height * samples)};
        std::vector<std::uint8_t> tile(std::size_t{256} * 256 * samples);
        for (std::uint32_t y = 0; y < height; y += 256) {
            for (std::uint32_t x = 0; x < width; x += 256) {
                EXPECT_GT(TIFFReadEncodedTile(tif.get(), TIFFComputeTile(tif.get(), x, y, 0, 0),
                                              tile.data(), static_cast<tmsize_t>(tile.size())),
                          0);
                for (std::uint32_t r = 0; r < 256 && y + r < height; ++r) {
                    const std::size_t run = std::min<std::uint32_t>(256, width - x) * samples;
                    std::memcpy(level.pixels.data() + ((y + r) * std::size_t{width} + x) * samples,
                                tile.data() + r * std::size_t{256} * samples, run);
                }
            }
        }
        read.levels.push_back(std::move(level));
    } while (TIFFReadDirectory(tif.get()));
    return read;
}

// The picture's pixels (RasterImage rows count from the bottom) as the file
// stores them: red, green, blue, rows from the top.
std::vector<std::uint8_t> RgbRows(const RasterImage& image) {
    std::vector<std::uint8_t> rgb;
    for (int y = image.Height() - 1; y >= 0; --y) {
        for (int x = 0; x < image.Width(); ++x) {
            const RgbQuad c = image.PixelColor(x, y);
            rgb.insert(rgb.end(), {c.red, c.green, c.blue});
        }
    }
    return rgb;
}

// Every overview pixel is the mean of the four beneath it.
void ExpectHalved(const GeoTiffRead::Level& below, const GeoTiffRead::Level& above, int samples) {
    ASSERT_EQ(above.width, (below.width + 1) / 2);
    ASSERT_EQ(above.height, (below.height + 1) / 2);
    for (std::uint32_t y = 0; y < above.height; y += 7) {
        for (std::uint32_t x = 0; x < above.width; x += 5) {
            for (int s = 0; s < samples; ++s) {
                double sum = 0;
                for (std::uint32_t dy : {0u, 1u}) {
                    for (std::uint32_t dx : {0u, 1u}) {
                        sum +=
                            below.pixels[((2 * y + dy) * below.width + 2 * x + dx) * samples + s];
                    }
                }
                EXPECT_NEAR(above.pixels[(y * above.width + x) * samples + s], sum / 4, 0.5)
                    << x << "," << y;
            }
        }
    }
}

TEST_F(StreamingStitcherTest, GeoTiffHoldsThePngPathsPixelsItsOverviewsAndItsPlace) {
    // RGB, JPEG and palette tiles (the palette's transparent entry stays
    // black, as in the PNG), one tile missing.
    tiles_.Rgb(0, 0);
    tiles_.Jpeg(1, 0);
    tiles_.Palette(2, 0);
    tiles_.Rgb(0, 1);
    tiles_.Rgb(2, 1);
    const std::vector<std::uint8_t> expected = RgbRows(InMemory(2, 1));

    for (const TiffCompression compression : {TiffCompression::Deflate, TiffCompression::Jpeg}) {
        const bool jpeg = compression == TiffCompression::Jpeg;
        SCOPED_TRACE(jpeg ? "JPEG" : "deflate");
        StreamingOptions options;
        options.format = ImageFileFormat::GeoTiff;
        options.tiffCompression = compression;
        options.jpegQuality = 90;
        options.bandMemory = 1; // bands of one tile: every block and overview seam
        const fs::path path = out_ / "Map_city.png"; // the extension changes nothing
        const StreamedLayer made = StreamLayerImageToFile(Tiles(2, 1), path.string(), options);
        ASSERT_TRUE(made.written) << made.error;
        ExpectSameProblems(made.tileProblems);

        const GeoTiffRead read = ReadGeoTiff(path);
        ASSERT_EQ(read.levels.size(), 3u); // 768 x 512, 384 x 256, 192 x 128
        EXPECT_EQ(read.samples, 3);
        EXPECT_EQ(read.compression, jpeg ? COMPRESSION_JPEG : COMPRESSION_ADOBE_DEFLATE);
        const std::vector<std::uint8_t>& pixels = read.levels[0].pixels;
        ASSERT_EQ(pixels.size(), expected.size());
        if (jpeg) {
            // Noise is where JPEG loses most, but the mean of each 16 x 16
            // block of every colour survives it: a misplaced tile or a
            // wrong colour space would not. (The palette tile's one-pixel
            // red-green pattern is what halved chroma cannot keep.)
            double worst = 0;
            for (std::size_t by = 0; by < 512; by += 16) {
                for (std::size_t bx = 0; bx < 768; bx += 16) {
                    if (by < 256 && bx >= 512) {
                        continue;
                    }
                    for (std::size_t c = 0; c < 3; ++c) {
                        double sum = 0;
                        for (std::size_t y = by; y < by + 16; ++y) {
                            for (std::size_t x = bx; x < bx + 16; ++x) {
                                const std::size_t i = (y * 768 + x) * 3 + c;
                                sum += int{pixels[i]} - int{expected[i]};
                            }
                        }
                        worst = std::max(worst, std::abs(sum / 256));
                    }
                }
            }
            EXPECT_LT(worst, 6.0);
        } else {
            EXPECT_TRUE(pixels == expected);
            ExpectHalved(read.levels[0], read.levels[1], 3);
            ExpectHalved(read.levels[1], read.levels[2], 3);
        }
        // Tile column 0 starts at the grid's west edge, row 0 at its north
        // edge: half the equator of the Pseudo-Mercator sphere from the centre.
        const double edge = 20037508.342789244;
        ASSERT_EQ(read.tiePoint.size(), 6u);
        EXPECT_NEAR(read.tiePoint[3], -edge, 1e-6);
        EXPECT_NEAR(read.tiePoint[4], edge, 1e-6);
        ASSERT_EQ(read.scale.size(), 3u);
        EXPECT_NEAR(read.scale[0], 2 * edge / (256 << kZoom), 1e-9);
        EXPECT_EQ(read.projection, 3857);
    }
}

TEST_F(StreamingStitcherTest, GeoTiffOfTransparentTilesKeepsTheirAlphaBesideThePngsColour) {
    tiles_.Hybrid(0, 0); // the first tile makes the layer's image RGBA
    tiles_.Palette(1, 0);
    tiles_.Rgb(2, 0);
    const std::vector<std::uint8_t> colour = RgbRows(InMemory(2, 1)); // row 1: missing
    StreamingOptions options;
    options.format = ImageFileFormat::GeoTiff;
    options.tiffCompression = TiffCompression::Jpeg; // transparency is never JPEG
    const fs::path path = out_ / "Map_overlay.tif";
    ASSERT_TRUE(StreamLayerImageToFile(Tiles(2, 1), path.string(), options).written);

    const GeoTiffRead read = ReadGeoTiff(path);
    ASSERT_EQ(read.levels.size(), 3u);
    EXPECT_EQ(read.compression, COMPRESSION_ADOBE_DEFLATE);
    ASSERT_EQ(read.samples, 4);
    EXPECT_TRUE(read.associatedAlpha);
    const std::vector<std::uint8_t>& pixels = read.levels[0].pixels;
    ASSERT_EQ(pixels.size(), colour.size() / 3 * 4);
    std::vector<std::vector<std::uint8_t>> tileRgba;
    for (int x = 0; x < 3; ++x) {
        tileRgba.push_back(RgbaReadback(RasterImage(tiles_.Path(x, 0).string(), kFormatPng)));
    }
    int opaque = 0;
    for (std::size_t y = 0; y < 512; ++y) {
        for (std::size_t x = 0; x < 768; ++x) {
            const std::uint8_t* p = &pixels[(y * 768 + x) * 4];
            const std::uint8_t alpha =
                y < 256 ? tileRgba[x / 256][((y * 256) + x % 256) * 4 + 3] : 0;
            ASSERT_EQ(p[3], alpha) << x << "," << y;
            if (alpha == 255) {
                ++opaque;
                const std::uint8_t* c = &colour[(y * 768 + x) * 3];
                ASSERT_TRUE(p[0] == c[0] && p[1] == c[1] && p[2] == c[2]) << x << "," << y;
            } else if (alpha == 0) {
                ASSERT_TRUE(p[0] == 0 && p[1] == 0 && p[2] == 0) << x << "," << y;
            }
        }
    }
    EXPECT_GT(opaque, 256 * 256);
    ExpectHalved(read.levels[0], read.levels[1], 4);
}

TEST(GeoTiffLayout, BigTiffOnlyWhenTheFileMayPassFourGigabytes) {
    struct Case {
        std::uint32_t side;
        int samples;
        bool big;
    };
    // 24576 and 28672 pixels square hold 2.7 and 3.7 GB of RGB tiles with
    // their overviews; 28672 with alpha holds 4.9 GB.
    for (const Case c :
         {Case{256, 3, false}, Case{16384, 4, false}, Case{24576, 3, false}, Case{28672, 3, false},
          Case{28672, 4, true}, Case{32768, 3, true}, Case{65536, 3, true}}) {
        EXPECT_EQ(NeedsBigTiff(PyramidLevels(c.side, c.side), c.samples), c.big)
            << c.side << " x " << c.samples;
    }
    // Halving down to one tile, rounding up.
    const std::vector<TiffLevel> levels = PyramidLevels(1280, 257);
    ASSERT_EQ(levels.size(), 4u);
    EXPECT_EQ(levels[1].width, 640u);
    EXPECT_EQ(levels[1].height, 129u);
    EXPECT_EQ(levels[3].width, 160u);
    EXPECT_EQ(levels[3].height, 33u);
    EXPECT_EQ(PyramidLevels(256, 256).size(), 1u);
}

} // namespace
} // namespace quiltara

// The streaming stitcher against the in-memory one, the PNG and GeoTIFF it
// writes read back by libpng, zlib, libtiff and our own reader, and what a
// failed write leaves.
#include "stitch/StreamingStitcher.h"

#include <geotiff/geotiffio.h>
#include <geotiff/xtiffio.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <png.h>
#include <sys/resource.h>
#include <zlib.h>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>

#include "FillingStream.h"
#include "SamePixels.h"
#include "TestPaths.h"
#include "image/PngStreamWriter.h"
#include "image/RasterImage.h"
#include "image/RgbaReadback.h"
#include "platform/ScriptedPrompts.h"
#include "stitch/MapStitcher.h"

namespace quiltara {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

constexpr int kZoom = 7;

using test::ReadFile;

// Noise, so that every row filter and real deflate work is exercised, with
// flat stretches where matches reach back across rows and parts.
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

// Tiles of every kind a map service sends, under the map layer's names.
class TileFolder {
public:
    fs::path Path(int x, int y) const { return dir_ / ("Map_" + TileFileName(x, y, kZoom)); }
    std::string Folder() const { return dir_.Path().string() + "/"; }

    void Rgb(int x, int y, int width = 256, int height = 256) {
        RasterImage tile(width, height, 24, kFormatPng);
        Paint(tile, static_cast<std::uint32_t>(x * 31 + y));
        Save(tile, x, y, kFormatPng);
    }
    void Jpeg(int x, int y) {
        RasterImage tile(256, 256, 24, kFormatJpeg);
        Paint(tile, 77);
        Save(tile, x, y, kFormatJpeg);
    }
    // Palette tile whose entry 5 is its one transparent colour.
    void Palette(int x, int y) {
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
    // A hybrid overlay: RGBA, transparent outside a few strokes.
    void Hybrid(int x, int y) {
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
    void Garbage(int x, int y) { std::ofstream(Path(x, y)) << "<html>404</html>"; }

private:
    void Save(RasterImage& tile, int x, int y, std::uint32_t format) {
        ASSERT_TRUE(tile.SaveFile(Path(x, y).string(), format)) << tile.ErrorText();
    }

    test::TempDir dir_;
};

// What libpng makes of a file: its rows, and every warning or error it gave.
struct LibpngRead {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::vector<std::string> complaints;
    std::vector<std::vector<std::uint8_t>> rows;
};

LibpngRead ReadWithLibpng(const fs::path& path) {
    LibpngRead read;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        read.complaints.push_back("cannot open");
        return read;
    }
    auto complain = [](png_structp png, png_const_charp message) {
        static_cast<LibpngRead*>(png_get_error_ptr(png))->complaints.emplace_back(message);
    };
    png_structp png = png_create_read_struct(
        PNG_LIBPNG_VER_STRING, &read,
        [](png_structp p, png_const_charp m) {
            static_cast<LibpngRead*>(png_get_error_ptr(p))->complaints.emplace_back(m);
            png_longjmp(p, 1);
        },
        complain);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png)) == 0) {
        png_init_io(png, file);
        png_read_info(png, info);
        read.width = png_get_image_width(png, info);
        read.height = png_get_image_height(png, info);
        read.rows.assign(read.height, std::vector<std::uint8_t>(png_get_rowbytes(png, info)));
        for (auto& row : read.rows) {
            png_read_row(png, row.data(), nullptr);
        }
        png_read_end(png, info);
    }
    png_destroy_read_struct(&png, &info, nullptr);
    std::fclose(file);
    return read;
}

struct Chunk {
    std::string type;
    std::string data;
};

// The file's chunks, each with its CRC checked.
std::vector<Chunk> Chunks(const std::string& file) {
    std::vector<Chunk> chunks;
    std::size_t at = 8;
    while (at + 12 <= file.size()) {
        const auto* p = reinterpret_cast<const unsigned char*>(file.data() + at);
        const std::size_t length = (std::size_t{p[0]} << 24) | (p[1] << 16) | (p[2] << 8) | p[3];
        const std::uint32_t crc =
            static_cast<std::uint32_t>(crc32(0, p + 4, static_cast<uInt>(length + 4)));
        const unsigned char* stored = p + 8 + length;
        EXPECT_EQ(crc, (std::uint32_t{stored[0]} << 24) | (stored[1] << 16) | (stored[2] << 8) |
                           stored[3]);
        chunks.push_back(Chunk{file.substr(at + 4, 4), file.substr(at + 8, length)});
        at += 12 + length;
    }
    EXPECT_EQ(at, file.size());
    return chunks;
}

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

class StreamingStitcherTest : public ::testing::Test {
protected:
    LayerTiles Tiles(int xLast, int yLast) const {
        return LayerTiles{tiles_.Folder(), MapLayer::Map, TileRange{0, 0, xLast, yLast}, kZoom};
    }

    // The in-memory stitcher's image of the same tiles, read back.
    RasterImage InMemory(int xLast, int yLast) {
        MapSourcesValues sources;
        sources[MapLayer::Map].download = true;
        ScriptedPrompts prompts;
        NullProgressSink progress;
        const std::vector<StitchedLayer> made =
            Stitch(tiles_.Folder(), "memory.png", sources, TileRange{0, 0, xLast, yLast}, kZoom,
                   prompts, progress);
        EXPECT_TRUE(made.at(0).saved);
        inMemoryProblems_ = made.at(0).tileProblems;
        return RasterImage(made.at(0).path, kFormatPng);
    }

    // The streamed layer lists the same tiles as the in-memory stitcher did.
    void ExpectSameProblems(const std::vector<TileProblem>& problems) const {
        ASSERT_EQ(problems.size(), inMemoryProblems_.size());
        for (std::size_t i = 0; i < problems.size(); ++i) {
            EXPECT_EQ(problems[i].path, inMemoryProblems_[i].path);
            EXPECT_EQ(problems[i].kind, inMemoryProblems_[i].kind) << problems[i].path;
            EXPECT_EQ(problems[i].width, inMemoryProblems_[i].width) << problems[i].path;
            EXPECT_EQ(problems[i].height, inMemoryProblems_[i].height) << problems[i].path;
        }
    }

    std::vector<TileProblem> inMemoryProblems_;

    TileFolder tiles_;
    test::TempDir out_;
};

TEST_F(StreamingStitcherTest, SamePixelsAsTheInMemoryStitcherForEveryTileKindAndSplit) {
    // Five columns and three rows of tiles: every kind, a missing tile and
    // one that is no image.
    for (int y = 0; y < 3; ++y) {
        for (int x = 0; x < 5; ++x) {
            tiles_.Rgb(x, y);
        }
    }
    tiles_.Jpeg(1, 0);
    tiles_.Palette(2, 1);
    tiles_.Hybrid(3, 1);
    tiles_.Hybrid(4, 2);
    fs::remove(tiles_.Path(0, 2));
    tiles_.Garbage(2, 2);
    const RasterImage expected = InMemory(4, 2);
    const std::string expectedFile = ReadFile(tiles_.Folder() + "Map_memory.png");

    struct Split {
        const char* name;
        unsigned threads;
        std::size_t partRows; // 0: the default size
        std::size_t bandMemory;
    };
    const std::size_t rowBytes = 5 * 256 * 3;
    for (const Split split :
         {Split{"one thread, whole bands", 1, 0, 40 << 20},
          Split{"two threads, 7-row parts", 2, 7, 40 << 20},
          Split{"three threads, 1-row parts, 16-row strips", 3, 1, 1},
          Split{"two threads, 100-row parts, one band", 2, 100, rowBytes * 256 * 3 / 2}}) {
        StreamingOptions options;
        options.threads = split.threads;
        options.bandMemory = split.bandMemory;
        if (split.partRows != 0) {
            options.partBytes = split.partRows * rowBytes + rowBytes / 2;
        }
        const fs::path path = out_ / (std::string(split.name) + ".png");
        const StreamedLayer made = StreamLayerImageToFile(Tiles(4, 2), path.string(), options);
        ASSERT_TRUE(made.written) << split.name << ": " << made.error;
        ExpectSameProblems(made.tileProblems);
        ASSERT_EQ(made.tileProblems.size(), 2u);
        EXPECT_EQ(made.tileProblems[0].path, tiles_.Path(0, 2).string());
        EXPECT_EQ(made.tileProblems[0].kind, TileProblem::Kind::Missing);
        EXPECT_EQ(made.tileProblems[1].kind, TileProblem::Kind::Unreadable);

        test::ExpectSamePixels(expected, RasterImage(path.string(), kFormatPng), split.name);
        const LibpngRead read = ReadWithLibpng(path);
        EXPECT_TRUE(read.complaints.empty()) << split.name << ": " << read.complaints.at(0);
        EXPECT_EQ(read.width, 1280u);
        EXPECT_EQ(read.height, 768u);

        // The chunks around the data are the PNG writer's, byte for byte.
        auto framing = [](const std::vector<Chunk>& chunks) {
            std::vector<std::string> kept;
            for (const Chunk& chunk : chunks) {
                if (chunk.type != "IDAT") {
                    kept.push_back(chunk.type + chunk.data);
                }
            }
            return kept;
        };
        const std::vector<Chunk> chunks = Chunks(ReadFile(path));
        EXPECT_EQ(framing(chunks), framing(Chunks(expectedFile))) << split.name;

        // The joined parts are one zlib stream: inflate checks the combined
        // Adler-32 and finds its end exactly at the end of the data.
        std::string data;
        for (const Chunk& chunk : chunks) {
            data += chunk.type == "IDAT" ? chunk.data : "";
        }
        std::vector<unsigned char> raw(768 * (rowBytes + 1) + 1);
        uLongf rawLength = raw.size();
        EXPECT_EQ(uncompress(raw.data(), &rawLength, reinterpret_cast<const Bytef*>(data.data()),
                             data.size()),
                  Z_OK)
            << split.name;
        EXPECT_EQ(rawLength, 768 * (rowBytes + 1)) << split.name;
    }
}

TEST_F(StreamingStitcherTest, EveryTileStaysInItsSquareAsInMemoryAndOddOnesAreListed) {
    for (int x = 0; x < 3; ++x) {
        tiles_.Rgb(x, 0);
        tiles_.Rgb(x, 1);
    }
    tiles_.Rgb(0, 0, 512, 512);
    tiles_.Rgb(1, 0, 1, 1);
    tiles_.Rgb(1, 1, 300, 100);
    tiles_.Garbage(2, 1);

    const RasterImage expected = InMemory(2, 1);
    // Whole bands, and strips of 16 rows (a band limit below one row of tiles).
    for (const std::size_t bandMemory : {std::size_t{40} << 20, std::size_t{1}}) {
        SCOPED_TRACE(bandMemory);
        MapSourcesValues sources;
        sources[MapLayer::Map].download = true;
        ScriptedPrompts prompts;
        NullProgressSink progress;
        StreamingOptions options;
        options.partBytes = 1;
        options.bandMemory = bandMemory;
        StreamingStitcher stitcher(options);
        const std::vector<StitchedLayer> made =
            stitcher.StitchLayers(tiles_.Folder(), "odd.png", sources, TileRange{0, 0, 2, 1}, kZoom,
                                  prompts, progress, nullptr);
        ASSERT_EQ(made.size(), 1u);
        ASSERT_TRUE(made[0].saved);
        // The run shows the one message about them, from this list.
        EXPECT_TRUE(prompts.Texts().empty());
        ExpectSameProblems(made[0].tileProblems);
        ASSERT_EQ(made[0].tileProblems.size(), 4u);
        EXPECT_EQ(made[0].tileProblems[0].kind, TileProblem::Kind::OffSize);
        EXPECT_EQ(made[0].tileProblems[0].width, 512);
        EXPECT_EQ(made[0].tileProblems[3].path, tiles_.Path(2, 1).string());
        EXPECT_EQ(made[0].tileProblems[3].kind, TileProblem::Kind::Unreadable);
        test::ExpectSamePixels(expected, RasterImage(made[0].path, kFormatPng), "odd tiles");

        const RasterImage image(made[0].path, kFormatPng);
        ASSERT_TRUE(image.HasPixels());
        auto at = [&image](int x, int y) { // from the top left
            RgbQuad c = image.PixelColor(x, image.Height() - 1 - y);
            c.reserved = 0;
            return c;
        };
        auto tileAt = [this](int x, int y, int tx, int ty) {
            const RasterImage tile(tiles_.Path(x, y).string(), kFormatPng);
            RgbQuad c = tile.PixelColor(tx, tile.Height() - 1 - ty);
            c.reserved = 0;
            return c;
        };
        auto same = [](RgbQuad a, RgbQuad b) {
            return a.red == b.red && a.green == b.green && a.blue == b.blue;
        };
        const RgbQuad black{0, 0, 0, 0};
        for (int i = 0; i < 256; i += 15) {
            // The big tile shows its top-left quarter and nothing beyond.
            EXPECT_TRUE(same(at(i, i), tileAt(0, 0, i, i))) << i;
            EXPECT_TRUE(same(at(255, i), tileAt(0, 0, 255, i))) << i;
            // The 1 x 1 tile fills the corner of its square; the rest is black.
            EXPECT_TRUE(same(at(257 + i / 2, i), black)) << i;
            // The wide, short tile: its first 256 columns, 100 rows, then black.
            EXPECT_TRUE(same(at(256 + i, 256 + 99), tileAt(1, 1, i, 99))) << i;
            EXPECT_TRUE(same(at(256 + i, 256 + 100), black)) << i;
            // The unreadable tile's square is black, the wide one's 44 more
            // columns included.
            EXPECT_TRUE(same(at(512 + i / 6, 256 + i / 3), black)) << i;
        }
        EXPECT_TRUE(same(at(256, 0), tileAt(1, 0, 0, 0)));
        EXPECT_TRUE(same(at(256, 1), black));
    }
}

TEST_F(StreamingStitcherTest, AFailedWriteStopsTheRunAndNeverReplacesTheOldImage) {
    for (int y = 0; y < 4; ++y) {
        for (int x = 0; x < 2; ++x) {
            tiles_.Rgb(x, y);
        }
    }
    StreamingOptions options;
    options.threads = 2;
    options.partBytes = 1;
    // Refused in the header, and in the middle of the data.
    for (const std::size_t room : {std::size_t{20}, std::size_t{300000}}) {
        test::FillingStream stream(room);
        const StreamedLayer made = StreamLayerImage(Tiles(1, 3), stream, options);
        EXPECT_FALSE(made.written) << room;
        EXPECT_EQ(made.error, "the image could not be written") << room;
    }

    // A file size limit makes the disk full for this process, for either format.
    const fs::path path = out_ / "Map_city.png";
    for (const ImageFileFormat format : {ImageFileFormat::Png, ImageFileFormat::GeoTiff}) {
        options.format = format;
        std::ofstream(path) << "the good old map";
        struct rlimit saved {};
        ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        struct rlimit small = saved;
        small.rlim_cur = 100000;
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
        const StreamedLayer made = StreamLayerImageToFile(Tiles(1, 3), path.string(), options);
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, oldHandler);

        EXPECT_FALSE(made.written);
        EXPECT_EQ(made.error, "the image could not be written: File too large");
        EXPECT_EQ(ReadFile(path), "the good old map");
        EXPECT_EQ(test::FilesBelow(out_.Path()), std::set<std::string>{"Map_city.png"});

        // Without the limit the same call replaces it.
        const StreamedLayer remade = StreamLayerImageToFile(Tiles(1, 3), path.string(), options);
        EXPECT_TRUE(remade.written) << remade.error;
        EXPECT_TRUE(RasterImage(path.string(), kFormatPng).HasPixels());
        EXPECT_EQ(test::FilesBelow(out_.Path()), std::set<std::string>{"Map_city.png"});
    }
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

// The filter with the smallest sum wins. Grey and black pixels, each one
// above darker by one: Up leaves 1 per byte, Sub 128, whose sum past 2^25
// bytes (a map 43,700 tiles wide) must not wrap round to look smallest.
TEST(RowFilter, TheSmallestSumWinsHoweverLongTheRow) {
    for (const std::size_t length : {std::size_t{6000}, (std::size_t{1} << 25) + 4}) {
        std::vector<std::uint8_t> row(length);
        std::vector<std::uint8_t> prior(length);
        for (std::size_t i = 0; i < length; ++i) {
            row[i] = (i / 3) % 2 == 0 ? 128 : 0;
            prior[i] = static_cast<std::uint8_t>(row[i] - 1);
        }
        std::vector<std::uint8_t> out(length + 1);
        FilterRgbRow(prior.data(), row.data(), length, out.data());
        EXPECT_EQ(out[0], 2) << length; // Up
    }
}

} // namespace
} // namespace quiltara

// The streaming stitcher's PNG against the in-memory stitcher's, read back
// by libpng, zlib and our own reader, and what a failed write leaves.
#include "stitch/StreamingStitcher.h"

#include <gtest/gtest.h>
#include <png.h>
#include <sys/resource.h>
#include <zlib.h>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>

#include "FillingStream.h"
#include "SamePixels.h"
#include "StreamingTiles.h"
#include "TestPaths.h"
#include "image/PngStreamWriter.h"
#include "image/RasterImage.h"
#include "platform/ScriptedPrompts.h"

namespace quiltara {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::StreamingStitcherTest;

constexpr int kZoom = test::kStreamingZoom;

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

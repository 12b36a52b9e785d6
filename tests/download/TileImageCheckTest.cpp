#include "download/TileImageCheck.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <fstream>

#include "TestPaths.h"
#include "image/RasterImage.h"
#include "platform/ScriptedPrompts.h"
#include "stitch/MapStitcher.h"
#include "stitch/StreamingStitcher.h"

namespace quiltara {
namespace {

using Bytes = std::string;

void WriteText(const std::filesystem::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

Bytes ReadAll(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

// Saves a small image with our own encoder under a .png name, whatever its format.
std::filesystem::path SaveAs(const test::TempDir& dir, std::uint32_t format, std::uint32_t bpp,
                             std::uint32_t width = 8, std::uint32_t height = 8) {
    RasterImage image(width, height, bpp, format);
    // Every pixel differs, so that every row has data of its own.
    for (std::uint32_t y = 0; y < height; ++y) {
        for (std::uint32_t x = 0; x < width; ++x) {
            image.PutPixelColor(static_cast<std::int32_t>(x), static_cast<std::int32_t>(y),
                                RgbQuad{static_cast<std::uint8_t>(x * 7 + y),
                                        static_cast<std::uint8_t>(y * 5), 90, 0});
        }
    }
    const std::filesystem::path path =
        dir / ("x=1y=1zoom=1-" + std::to_string(format) + "-" + std::to_string(width) + "x" +
               std::to_string(height) + ".png");
    EXPECT_TRUE(image.SaveFile(path.string(), format)) << image.ErrorText();
    return path;
}

std::uint32_t Get32(const Bytes& b, std::size_t at) {
    return std::uint32_t{static_cast<std::uint8_t>(b[at])} << 24 |
           std::uint32_t{static_cast<std::uint8_t>(b[at + 1])} << 16 |
           std::uint32_t{static_cast<std::uint8_t>(b[at + 2])} << 8 |
           static_cast<std::uint8_t>(b[at + 3]);
}

Bytes Chunk(const char* type, const Bytes& data) {
    Bytes out;
    for (int shift = 24; shift >= 0; shift -= 8) {
        out.push_back(static_cast<char>(data.size() >> shift));
    }
    const Bytes body = std::string(type, 4) + data;
    const auto crc = static_cast<std::uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(body.data()), static_cast<uInt>(body.size())));
    out += body;
    for (int shift = 24; shift >= 0; shift -= 8) {
        out.push_back(static_cast<char>(crc >> shift));
    }
    return out;
}

// The PNG with its image data cut to the first `keep` bytes, each chunk
// whole and followed by an honest end chunk: only the pixel rows run short.
Bytes WithShortImageData(const Bytes& png, std::size_t keep) {
    Bytes out = png.substr(0, 8);
    Bytes data;
    for (std::size_t at = 8; at + 12 <= png.size();) {
        const std::uint32_t length = Get32(png, at);
        const Bytes type = png.substr(at + 4, 4);
        if (type == "IDAT") {
            data += png.substr(at + 8, length);
        } else if (type != "IEND") {
            out += png.substr(at, 12 + length);
        }
        at += 12 + length;
    }
    return out + Chunk("IDAT", data.substr(0, keep)) + Chunk("IEND", "");
}

TEST(RasterImageCheck, AcceptsEveryFormatTheRequestAsksForWhateverTheName) {
    test::TempDir dir;
    const RasterImageCheck check;
    EXPECT_TRUE(check.IsUsableImage(SaveAs(dir, kFormatPng, 24)));
    EXPECT_TRUE(check.IsUsableImage(SaveAs(dir, kFormatJpeg, 24)));
    EXPECT_TRUE(check.IsUsableImage(SaveAs(dir, kFormatGif, 8)));
    EXPECT_TRUE(check.IsUsableImage(SaveAs(dir, kFormatBmp, 24)));
}

TEST(RasterImageCheck, RejectsWhatIsNotAnImage) {
    test::TempDir dir;
    const RasterImageCheck check;
    WriteText(dir / "empty.png", "");
    WriteText(dir / "page.png", "<html><body><h1>404 Not Found</h1></body></html>\n");
    const Bytes bytes = ReadAll(SaveAs(dir, kFormatPng, 24));
    WriteText(dir / "half.png", bytes.substr(0, bytes.size() / 2));
    EXPECT_FALSE(check.IsUsableImage(dir / "empty.png"));
    EXPECT_FALSE(check.IsUsableImage(dir / "page.png"));
    EXPECT_FALSE(check.IsUsableImage(dir / "half.png"));
    EXPECT_FALSE(check.IsUsableImage(dir / "absent.png"));
    EXPECT_FALSE(check.IsUsableImage(dir.Path()));
}

// A download cut short with an honest length: the readers pad what is
// missing, which would put a partly blank tile into the map. The check
// fails it; a plain load of the image library keeps the padding.
TEST(RasterImageCheck, RejectsTilesWhoseDataEndsBeforeTheLastRow) {
    test::TempDir dir;
    const RasterImageCheck check;
    const Bytes jpeg = ReadAll(SaveAs(dir, kFormatJpeg, 24, 256, 256));
    const Bytes png = ReadAll(SaveAs(dir, kFormatPng, 24, 256, 256));
    WriteText(dir / "cut.jpg.png", jpeg.substr(0, jpeg.size() * 2 / 3));
    WriteText(dir / "cut.png", png.substr(0, png.size() * 2 / 3));
    WriteText(dir / "short-data.png", WithShortImageData(png, png.size() / 2));
    WriteText(dir / "whole-again.png", WithShortImageData(png, png.size()));
    EXPECT_TRUE(check.IsUsableImage(dir / "whole-again.png"));
    for (const char* name : {"cut.jpg.png", "cut.png", "short-data.png"}) {
        SCOPED_TRACE(name);
        EXPECT_FALSE(check.IsUsableImage(dir / name));
    }
    RasterImage plain;
    EXPECT_TRUE(plain.LoadFile((dir / "cut.jpg.png").string(), kFormatPng));
}

// Tiles are 256 x 256: a header declaring more than 4096 pixels a side is
// refused by the check and by the stitcher, before the pixels are allocated.
TEST(RasterImageCheck, RefusesImagesDeclaringMoreThan4096PixelsASide) {
    test::TempDir dir;
    const RasterImageCheck check;
    EXPECT_TRUE(check.IsUsableImage(SaveAs(dir, kFormatPng, 24, 4096, 2)));
    EXPECT_TRUE(check.IsUsableImage(SaveAs(dir, kFormatJpeg, 24, 3, 4096)));
    for (const auto& path :
         {SaveAs(dir, kFormatPng, 24, 4097, 2), SaveAs(dir, kFormatJpeg, 24, 3, 4097),
          SaveAs(dir, kFormatGif, 8, 4097, 1), SaveAs(dir, kFormatBmp, 8, 1, 4097)}) {
        SCOPED_TRACE(path.filename().string());
        EXPECT_FALSE(check.IsUsableImage(path));
        RasterImage tile;
        EXPECT_FALSE(LoadTile(tile, path));
        EXPECT_FALSE(tile.HasPixels());
    }
    RasterImage png;
    EXPECT_FALSE(LoadTile(png, SaveAs(dir, kFormatPng, 24, 4097, 2)));
    EXPECT_STREQ(png.ErrorText(), "4097 x 2 pixels is larger than the 4096 x 4096 accepted");
}

TEST(RasterImageCheck, TheStitcherLeavesAnOversizedTilesSquareBlank) {
    test::TempDir dir;
    const std::string folder = dir.Path().string() + "/";
    MapSourcesValues sources;
    sources[MapLayer::Map].download = true;
    for (const auto& [x, width] : {std::pair{0, 4097u}, std::pair{1, 256u}}) {
        std::filesystem::rename(SaveAs(dir, kFormatPng, 24, width, 256),
                                folder + LayerPrefix(MapLayer::Map) + TileFileName(x, 0, 3));
    }
    ScriptedPrompts prompts;
    NullProgressSink progress;
    const auto layers =
        Stitch(folder, "m.png", sources, TileRange{0, 0, 1, 0}, 3, prompts, progress);
    ASSERT_EQ(layers.size(), 1u);
    RasterImage map(folder + "Map_m.png", kFormatPng);
    ASSERT_TRUE(map.HasPixels());
    ASSERT_EQ(map.Width(), 512);
    // The oversized tile left its square black; the 256-wide one is in place.
    for (const std::int32_t x : {0, 5, 255}) {
        EXPECT_EQ(map.PixelColor(x, 250), RgbQuad{}) << x;
    }
    EXPECT_EQ(map.PixelColor(256 + 5, 250), (RgbQuad{5 * 7 + 250 - 256, 250 * 5 % 256, 90, 0}));
}

// A tile kept from an earlier run, cut short, in any format the readers
// take: both stitchers refuse it as the download check does, and list it.
TEST(RasterImageCheck, StitchersRefuseCutTilesOfEveryFormatAsTheCheckDoes) {
    for (const auto& [format, bpp] : {std::pair{kFormatPng, 24u},
                                      {kFormatJpeg, 24u},
                                      {kFormatGif, 8u},
                                      {kFormatBmp, 24u},
                                      {kFormatTiff, 24u}}) {
        test::TempDir dir;
        const std::string folder = dir.Path().string() + "/";
        const std::string tile = folder + "Map_" + TileFileName(0, 0, 3);
        const Bytes whole = ReadAll(SaveAs(dir, format, bpp, 256, 256));
        WriteText(tile, whole.substr(0, whole.size() * 2 / 3));
        EXPECT_FALSE(RasterImageCheck().IsUsableImage(tile)) << format;
        MapSourcesValues sources;
        sources[MapLayer::Map].download = true;
        ScriptedPrompts prompts;
        NullProgressSink progress;
        const TileRange range{0, 0, 0, 0};
        const auto layers = Stitch(folder, "m.png", sources, range, 3, prompts, progress);
        const StreamedLayer streamed = StreamLayerImageToFile(
            LayerTiles{folder, MapLayer::Map, range, 3, {}}, folder + "s.png", StreamingOptions{});
        for (const auto& problems : {layers.at(0).tileProblems, streamed.tileProblems}) {
            ASSERT_EQ(problems.size(), 1u) << format;
            EXPECT_EQ(problems[0].kind, TileProblem::Kind::Unreadable) << format;
        }
    }
}

} // namespace
} // namespace quiltara

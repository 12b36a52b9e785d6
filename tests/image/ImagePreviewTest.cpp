// Previews read back from finished image files: PNG row by row (interlaced
// ones too), GeoTIFF by the overview the preview needs, damaged files none.
#include "image/ImagePreview.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <png.h>
#include <unistd.h>

#include <array>
#include <filesystem>

#include "CodecSamples.h"
#include "TestPaths.h"
#include "image/GeoTiffWriter.h"

namespace quiltara {
namespace {

namespace fs = std::filesystem;
using test::Bytes;
using Rgba = std::array<std::uint8_t, 4>;

Rgba PixelAt(const ImagePreview& preview, std::uint32_t x, std::uint32_t y) {
    const std::uint8_t* p = preview.rgba.data() + (std::size_t{y} * preview.previewWidth + x) * 4;
    return {p[0], p[1], p[2], p[3]};
}

// Four quarters: red to the left, green at the top, blue everywhere.
Rgba Quarter(std::uint32_t x, std::uint32_t y, std::uint32_t width, std::uint32_t height) {
    return {static_cast<std::uint8_t>(x < width / 2 ? 255 : 0),
            static_cast<std::uint8_t>(y < height / 2 ? 255 : 0), 128, 255};
}

fs::path WriteQuartersPng(const fs::path& path, std::uint32_t width, std::uint32_t height,
                          bool interlaced) {
    test::PngSample sample;
    sample.width = width;
    sample.height = height;
    sample.interlaced = interlaced;
    sample.sample = [width, height](std::uint32_t x, std::uint32_t y, int c) {
        return Quarter(x, y, width, height)[c];
    };
    test::WriteBytes(path, test::MakePng(sample));
    return path;
}

// Every preview pixel whose square lies wholly inside one quarter has that quarter's colour.
void ExpectQuarters(const ImagePreview& preview) {
    const std::uint32_t pw = preview.previewWidth;
    const std::uint32_t ph = preview.previewHeight;
    for (std::uint32_t y = 0; y < ph; ++y) {
        for (std::uint32_t x = 0; x < pw; ++x) {
            if (2 * x + 1 == pw || 2 * y + 1 == ph) {
                continue; // straddles the middle
            }
            ASSERT_EQ(PixelAt(preview, x, y), Quarter(x, y, pw, ph)) << x << "," << y;
        }
    }
}

TEST(ImagePreview, APngIsScaledDownToFitAndEachPixelIsTheMeanOfItsSquare) {
    const test::TempDir dir;
    struct Row {
        const char* name;
        std::uint32_t width, height;
        bool interlaced;
        std::uint32_t maxSide;
        std::uint32_t previewWidth, previewHeight;
    };
    const Row rows[] = {
        {"wide", 300, 200, false, 30, 30, 20},
        {"tall", 200, 300, false, 60, 40, 60},
        {"interlaced, read whole", 300, 200, true, 30, 30, 20},
        // Too large to hold: its first pass alone, every eighth pixel.
        {"interlaced, by its first pass", 2400, 1800, true, 72, 72, 54},
        {"smaller than the preview: not enlarged", 8, 4, false, 72, 8, 4},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const fs::path path =
            WriteQuartersPng(dir / "quarters.png", row.width, row.height, row.interlaced);
        const std::optional<ImagePreview> preview = ReadImagePreview(path.string(), row.maxSide);
        ASSERT_TRUE(preview.has_value());
        EXPECT_EQ(preview->width, row.width);
        EXPECT_EQ(preview->height, row.height);
        EXPECT_EQ(preview->previewWidth, row.previewWidth);
        EXPECT_EQ(preview->previewHeight, row.previewHeight);
        ASSERT_EQ(preview->rgba.size(), std::size_t{row.previewWidth} * row.previewHeight * 4);
        ExpectQuarters(*preview);
    }

    // A black and a white pixel make one grey; a transparent pixel lends no colour.
    test::PngSample pair;
    pair.width = 2;
    pair.height = 1;
    pair.colorType = PNG_COLOR_TYPE_RGBA;
    pair.sample = [](std::uint32_t x, std::uint32_t, int c) -> std::uint16_t {
        const Rgba kRedThenClearBlue[] = {{255, 0, 0, 255}, {0, 0, 255, 0}};
        return kRedThenClearBlue[x][c];
    };
    test::WriteBytes(dir / "pair.png", test::MakePng(pair));
    std::optional<ImagePreview> one = ReadImagePreview((dir / "pair.png").string(), 1);
    ASSERT_TRUE(one.has_value());
    EXPECT_EQ(PixelAt(*one, 0, 0), (Rgba{255, 0, 0, 128}));
    pair.colorType = PNG_COLOR_TYPE_GRAY;
    pair.sample = [](std::uint32_t x, std::uint32_t, int) -> std::uint16_t { return x * 255; };
    test::WriteBytes(dir / "pair.png", test::MakePng(pair));
    one = ReadImagePreview((dir / "pair.png").string(), 1);
    ASSERT_TRUE(one.has_value());
    EXPECT_EQ(PixelAt(*one, 0, 0), (Rgba{128, 128, 128, 255}));
}

// A 600 x 400 GeoTIFF whose full resolution is red, its half-size overview
// green and its quarter-size one blue, so the colour tells which was read.
fs::path WriteLevelledGeoTiff(const fs::path& dir) {
    const fs::path path = dir / "levels.tif";
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    EXPECT_GE(fd, 0);
    {
        GeoTiffWriter writer(fd, path, dir);
        GeoTiffFrame frame;
        frame.width = 600;
        frame.height = 400;
        EXPECT_TRUE(writer.Begin(frame));
        const std::array<std::uint8_t, 3> colours[] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}};
        EXPECT_EQ(writer.Levels().size(), 3u);
        for (std::size_t level = 0; level < writer.Levels().size(); ++level) {
            std::vector<std::uint8_t> pixels;
            for (std::uint32_t i = 0; i < kTiffTileSide * kTiffTileSide; ++i) {
                pixels.insert(pixels.end(), colours[level].begin(), colours[level].end());
            }
            const std::vector<std::uint8_t> tile = DeflateTile(pixels, 3, 6);
            for (std::uint32_t index = 0; index < writer.Levels()[level].Tiles(); ++index) {
                EXPECT_TRUE(level == 0 ? writer.WriteTile(index, tile)
                                       : writer.KeepOverviewTile(level, index, tile));
            }
        }
        EXPECT_TRUE(writer.Finish()) << writer.Error();
    }
    ::close(fd);
    return path;
}

TEST(ImagePreview, AGeoTiffIsReadFromTheSmallestOverviewLargeEnoughForThePreview) {
    const test::TempDir dir;
    const fs::path path = WriteLevelledGeoTiff(dir.Path());
    struct Row {
        std::uint32_t maxSide;
        std::uint32_t previewWidth, previewHeight;
        Rgba colour;
    };
    const Row rows[] = {
        {64, 64, 43, {0, 0, 255, 255}},    // the quarter-size overview, 150 x 100
        {150, 150, 100, {0, 0, 255, 255}}, // still fits it exactly
        {200, 200, 133, {0, 255, 0, 255}}, // the half-size one
        {500, 500, 333, {255, 0, 0, 255}}, // only the image itself is large enough
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.maxSide);
        const std::optional<ImagePreview> preview = ReadImagePreview(path.string(), row.maxSide);
        ASSERT_TRUE(preview.has_value());
        EXPECT_EQ(preview->width, 600u);
        EXPECT_EQ(preview->height, 400u);
        EXPECT_EQ(preview->previewWidth, row.previewWidth);
        EXPECT_EQ(preview->previewHeight, row.previewHeight);
        EXPECT_EQ(PixelAt(*preview, 0, 0), row.colour);
        EXPECT_EQ(PixelAt(*preview, row.previewWidth - 1, row.previewHeight - 1), row.colour);
    }
}

TEST(ImagePreview, AMissingDamagedOrStoppedFileGivesNoPreview) {
    const test::TempDir dir;
    const Bytes png = test::ReadBytes(WriteQuartersPng(dir / "whole.png", 300, 200, false));
    const Bytes tiff = test::ReadBytes(WriteLevelledGeoTiff(dir.Path()));
    const auto write = [&dir](const char* name, const Bytes& bytes) {
        test::WriteBytes(dir / name, bytes);
        return (dir / name).string();
    };
    const std::string broken[] = {
        (dir / "missing.png").string(),
        write("empty.png", {}),
        write("text.png", Bytes{'n', 'o', 't', ' ', 'a', 'n', ' ', 'i', 'm', 'a', 'g', 'e'}),
        write("half.png", Bytes(png.begin(), png.begin() + png.size() / 2)),
        write("header.tif", Bytes(tiff.begin(), tiff.begin() + 200)),
        write("half.tif", Bytes(tiff.begin(), tiff.begin() + tiff.size() / 2)),
    };
    for (const std::string& path : broken) {
        EXPECT_FALSE(ReadImagePreview(path, 72).has_value()) << path;
    }
    const auto stop = [] { return true; };
    EXPECT_FALSE(ReadImagePreview((dir / "whole.png").string(), 72, stop).has_value());
    EXPECT_FALSE(ReadImagePreview((dir / "levels.tif").string(), 72, stop).has_value());
    EXPECT_TRUE(ReadImagePreview((dir / "whole.png").string(), 72).has_value());
}

} // namespace
} // namespace quiltara

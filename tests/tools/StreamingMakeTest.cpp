// quiltara-make's streaming stitcher (its default) against its --in-memory
// one, on every layer the offline map service draws.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <sstream>

#include "Console.h"
#include "DemoServer.h"
#include "HeadlessRun.h"
#include "SamePixels.h"
#include "TestPaths.h"
#include "image/RasterImage.h"
#include "platform/CurlHttpClient.h"

namespace quiltara::make {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

struct Made {
    int status = -1;
    std::string printed;
};

// One run of the map maker in this process, as main() runs it without a
// terminal.
Made MakeMap(const std::vector<std::string>& args) {
    const ParseOutcome parsed = ParseMakeArguments(args, SourceCatalogue{});
    EXPECT_TRUE(parsed.options) << parsed.error;
    Made made;
    if (!parsed.options) {
        return made;
    }
    std::FILE* printed = std::tmpfile();
    {
        Console out(printed, false);
        Console errors(printed, false);
        std::istringstream input;
        CurlHttpClient http;
        made.status = RunMapMaker(*parsed.options, out, errors, input, false, http);
    }
    std::rewind(printed);
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, printed)) > 0;) {
        made.printed.append(buffer, n);
    }
    std::fclose(printed);
    return made;
}

TEST(StreamingMake, EveryLayerHasTheInMemoryImagesPixels) {
    // RGB road map, JPEG satellite, palette terrain, RGBA hybrid; one tile
    // of each missing.
    test::DemoServer server(test::DemoServerOptions().MissingTile(5, 12, 21));
    test::TempDir dir;
    auto args = [&](const std::string& folder, std::vector<std::string> extra) {
        fs::create_directory(dir / folder);
        std::vector<std::string> all = {
            "--tiles=10,20,12,22",  "--zoom=5", "--layers=all",
            "--existing=overwrite", "--quiet",  "--output=" + (dir / folder / "city.png").string()};
        for (MapLayer layer : kAllLayers) {
            all.push_back(std::string("--template-") + LayerOptionName(layer) + "=" +
                          server.Template(layer));
        }
        all.insert(all.end(), extra.begin(), extra.end());
        return all;
    };
    const Made streamed = MakeMap(args("streamed", {}));
    const Made classic = MakeMap(args("classic", {"--in-memory"}));
    const Made stored = MakeMap(args("stored", {"--png-level=0"}));

    EXPECT_EQ(streamed.status, kExitIncomplete) << streamed.printed;
    EXPECT_EQ(classic.status, kExitIncomplete) << classic.printed;
    EXPECT_EQ(stored.status, kExitIncomplete) << stored.printed;
    for (MapLayer layer : kAllLayers) {
        const std::string name = std::string(LayerPrefix(layer)) + "city.png";
        const RasterImage expected((dir / "classic" / name).string(), kFormatPng);
        test::ExpectSamePixels(expected,
                               RasterImage((dir / "streamed" / name).string(), kFormatPng), name);
        test::ExpectSamePixels(expected, RasterImage((dir / "stored" / name).string(), kFormatPng),
                               name + " at level 0");
        // Level 0 stores the filtered rows: far larger than the default.
        EXPECT_GT(fs::file_size(dir / "stored" / name), 2 * fs::file_size(dir / "streamed" / name));
        EXPECT_THAT(streamed.printed, HasSubstr(LayerOptionName(layer) + std::string(" image: ") +
                                                (dir / "streamed" / name).string()));
    }
    // The same report, word for word, but for the folder.
    auto inFolder = [](std::string text, const std::string& folder) {
        for (std::size_t at; (at = text.find("/" + folder + "/")) != std::string::npos;) {
            text.replace(at, folder.size() + 2, "/FOLDER/");
        }
        return text;
    };
    EXPECT_EQ(inFolder(streamed.printed, "streamed"), inFolder(classic.printed, "classic"));
    // Nothing but the tiles, the images and their world and projection files:
    // no temporary file left behind.
    for (const std::string& file : test::FilesBelow(dir / "streamed")) {
        EXPECT_NE(file[0], '.') << file;
    }
    EXPECT_EQ(test::FilesBelow(dir / "streamed").size(), 4u * 8u + 4u * 3u);
}

TEST(StreamingMake, TheCompressionLevelIsCheckedAndBelongsToTheStreamingStitcher) {
    const std::vector<std::string> area = {"--tiles=0,0,1,1", "--zoom=3", "--output=/tmp/x.png"};
    auto parse = [&](std::vector<std::string> extra) {
        extra.insert(extra.begin(), area.begin(), area.end());
        return ParseMakeArguments(extra, SourceCatalogue{});
    };
    ASSERT_TRUE(parse({"--png-level=9"}).options) << parse({"--png-level=9"}).error;
    EXPECT_EQ(parse({"--png-level=9"}).options->pngLevel, 9);
    EXPECT_EQ(parse({"--png-level", "0"}).options->pngLevel, 0);
    EXPECT_FALSE(parse({}).options->pngLevel.has_value());
    EXPECT_FALSE(parse({}).options->inMemory);
    EXPECT_TRUE(parse({"--in-memory"}).options->inMemory);
    for (const char* bad : {"--png-level=10", "--png-level=-1", "--png-level=", "--png-level=x"}) {
        EXPECT_THAT(parse({bad}).error,
                    HasSubstr("--png-level needs a compression level from 0 to 9"))
            << bad;
    }
    EXPECT_THAT(parse({"--in-memory", "--png-level=3"}).error,
                HasSubstr("--png-level applies to the streaming stitcher"));
    EXPECT_THAT(parse({"--in-memory=yes"}).error, HasSubstr("--in-memory takes no value"));
}

TEST(StreamingMake, AGeoTiffIsChosenByFormatAloneAndCarriesNoWorldFile) {
    test::DemoServer server;
    test::TempDir dir;
    for (const bool tiff : {false, true}) {
        const fs::path folder = dir / (tiff ? "tiff" : "png");
        fs::create_directory(folder);
        std::vector<std::string> args = {"--tiles=10,20,11,20", "--zoom=5", "--quiet",
                                         "--template-map=" + server.Template(MapLayer::Map),
                                         "--output=" + (folder / "city.png").string()};
        if (tiff) {
            args.insert(args.end(),
                        {"--format", "tiff", "--tiff-compression=jpeg", "--jpeg-quality=60"});
        }
        ASSERT_EQ(MakeMap(args).status, kExitMade);
        const std::string magic = test::ReadFile(folder / "Map_city.png").substr(0, 4);
        EXPECT_EQ(magic, tiff ? std::string("II*\0", 4) : std::string("\x89PNG")) << tiff;
        EXPECT_EQ(fs::exists(folder / "Map_city.pgw"), !tiff);
        EXPECT_EQ(fs::exists(folder / "Map_city.prj"), !tiff);
    }
}

TEST(StreamingMake, TheFormatsOptionsAreCheckedAndBelongTogether) {
    auto parse = [](std::vector<std::string> extra) {
        extra.insert(extra.begin(), {"--tiles=0,0,1,1", "--zoom=3", "--output=/tmp/x.png"});
        return ParseMakeArguments(extra, SourceCatalogue{});
    };
    EXPECT_EQ(parse({}).options->format, ImageFileFormat::Png);
    const ParseOutcome jpeg =
        parse({"--format=tiff", "--tiff-compression", "jpeg", "--jpeg-quality=90"});
    ASSERT_TRUE(jpeg.options) << jpeg.error;
    EXPECT_EQ(jpeg.options->format, ImageFileFormat::GeoTiff);
    EXPECT_EQ(jpeg.options->tiffCompression, TiffCompression::Jpeg);
    EXPECT_EQ(jpeg.options->jpegQuality, 90);
    const struct {
        std::vector<std::string> args;
        const char* error;
    } refused[] = {
        {{"--format=jpg"}, "--format takes png, tiff, mbtiles or gpkg"},
        {{"--format=tiff", "--tiff-compression=lzw"}, "--tiff-compression takes deflate or jpeg"},
        {{"--format=tiff", "--tiff-compression=jpeg", "--jpeg-quality=0"}, "from 1 to 100"},
        {{"--format=tiff", "--jpeg-quality=80"}, "--jpeg-quality needs --tiff-compression jpeg"},
        {{"--tiff-compression=jpeg"}, "belong to --format tiff"},
        {{"--format=tiff", "--in-memory"}, "cannot be made --in-memory"},
        {{"--format=tiff", "--png-level=3"}, "not to --format tiff"},
    };
    for (const auto& row : refused) {
        EXPECT_THAT(parse(row.args).error, HasSubstr(row.error)) << row.args.back();
    }
}

} // namespace
} // namespace quiltara::make

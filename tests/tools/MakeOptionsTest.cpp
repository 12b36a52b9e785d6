#include "MakeOptions.h"

#include <gtest/gtest.h>

#include <sstream>

#include "MakeOptionTable.h"
#include "TestPaths.h"

namespace quiltara::make {
namespace {

class MakeOptionsTest : public ::testing::Test {
protected:
    ParseOutcome Parse(std::vector<std::string> args) {
        args.push_back("--output=" + (dir_ / "map.png").string());
        return ParseMakeArguments(args, catalogue_);
    }
    MakeOptions Options(std::vector<std::string> args) {
        ParseOutcome outcome = Parse(std::move(args));
        EXPECT_EQ(outcome.error, "");
        EXPECT_TRUE(outcome.options.has_value());
        return outcome.options.value_or(MakeOptions{});
    }
    std::string Error(std::vector<std::string> args) {
        const ParseOutcome outcome = Parse(std::move(args));
        EXPECT_FALSE(outcome.options.has_value());
        return outcome.error;
    }

    test::TempDir dir_;
    SourceCatalogue catalogue_; // none unless a test adds one
};

TEST_F(MakeOptionsTest, TileRangeGivesTheListRowByRow) {
    const MakeOptions o = Options({"--tiles", "4,7,6,8", "--zoom=5"});
    EXPECT_EQ(o.zoom, 5);
    EXPECT_EQ(o.range.xFirst, 4);
    EXPECT_EQ(o.range.yFirst, 7);
    EXPECT_EQ(o.range.xLast, 6);
    EXPECT_EQ(o.range.yLast, 8);
    ASSERT_EQ(o.tiles.size(), 6u);
    const int expected[6][2] = {{4, 7}, {5, 7}, {6, 7}, {4, 8}, {5, 8}, {6, 8}};
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(o.tiles[i].column, expected[i][0]);
        EXPECT_EQ(o.tiles[i].row, expected[i][1]);
    }
    EXPECT_EQ(o.outputPath, (dir_ / "map.png").string());
}

TEST_F(MakeOptionsTest, TileRangesOutsideTheGridOrBackwardsAreRefused) {
    EXPECT_NE(Error({"--tiles=0,0,4,0", "--zoom=2"}).find("0 to 3"), std::string::npos);
    EXPECT_NE(Error({"--tiles=-1,0,1,0", "--zoom=2"}), "");
    EXPECT_NE(Error({"--tiles=2,0,1,0", "--zoom=2"}), "");
    EXPECT_NE(Error({"--tiles=1,2,3", "--zoom=2"}), "");
    EXPECT_NE(Error({"--tiles=1,2,3,x", "--zoom=2"}), "");
    EXPECT_NE(Error({"--tiles=0,0,1,1", "--zoom=31"}), "");
    EXPECT_NE(Error({"--tiles=0,0,1,1"}).find("--zoom"), std::string::npos);
}

TEST_F(MakeOptionsTest, SelectionTakesThePanelsPath) {
    const MakeOptions o =
        Options({"--selection=20.25,10.5,12.75,21.5", "--page-zoom=5", "--zoom=6"});
    EXPECT_EQ(o.range.xFirst, 21);
    EXPECT_EQ(o.range.xLast, 25);
    EXPECT_EQ(o.range.yFirst, 40);
    EXPECT_EQ(o.range.yLast, 43); // the bottom edge on a boundary takes the row below it
    EXPECT_EQ(o.tiles.size(), 20u);

    EXPECT_NE(Error({"--selection=20.25,10.5,12.75,21.5", "--page-zoom=6", "--zoom=6"})
                  .find("Choose a higher zoom"),
              std::string::npos);
    EXPECT_NE(Error({"--selection=20.25,10.5,12.75,21.5", "--zoom=6"}).find("--page-zoom"),
              std::string::npos);
}

TEST_F(MakeOptionsTest, SelectionsThatCannotBeFetchedAreRefusedWithAReason) {
    // Reversed: right of left, bottom above top.
    EXPECT_NE(Error({"--selection=1,2,1,2", "--page-zoom=1", "--zoom=2"}).find("left edge"),
              std::string::npos);
    EXPECT_NE(Error({"--selection=1.5,0,1,1", "--page-zoom=1", "--zoom=2"}).find("top"),
              std::string::npos);
    // A left edge past 2^31 at the output zoom.
    EXPECT_NE(Error({"--selection=0,3e9,3e9,0", "--page-zoom=0", "--zoom=1"}).find("too deep"),
              std::string::npos);
    // Off the grid at the output zoom: column 4 of a 4-column grid, and the
    // far border itself, which takes the tile beyond it.
    EXPECT_NE(Error({"--selection=0,1,2.5,1", "--page-zoom=1", "--zoom=2"}).find("beyond"),
              std::string::npos);
    EXPECT_NE(Error({"--selection=0,0,2,2", "--page-zoom=1", "--zoom=2"}).find("0 to 3"),
              std::string::npos);
    // The whole grid, just inside its border, is fine.
    EXPECT_EQ(Options({"--selection=0,0,1.99,1.99", "--page-zoom=1", "--zoom=2"}).tiles.size(),
              16u);
}

TEST_F(MakeOptionsTest, SubfoldersAreOneFolderNameInsideTheOutputFolder) {
    for (const char* bad : {"../../somewhere", "/tmp/x", "a/b", "..", "."}) {
        const std::string error = Error({"--tiles=0,0,0,0", "--zoom=1", "--layers=all",
                                         std::string("--subfolder-terrain=") + bad});
        EXPECT_NE(error.find(std::string("'") + bad + "'"), std::string::npos) << bad;
        EXPECT_NE(error.find("terrain"), std::string::npos) << error;
    }
    EXPECT_EQ(Options({"--tiles=0,0,0,0", "--zoom=1", "--subfolder-map=..tiles.."})
                  .SourcesValues()[MapLayer::Map]
                  .subfolder,
              "..tiles..");
}

TEST_F(MakeOptionsTest, ShortOutputOptionTakesTheNextArgument) {
    // The README's example line.
    ParseOutcome outcome = ParseMakeArguments(
        {"--box", "-0.16,51.49,-0.08,51.52", "--zoom", "13", "--layers", "map,satellite",
         "--delete-tiles", "-o", (dir_ / "london.png").string()},
        catalogue_);
    ASSERT_TRUE(outcome.options.has_value()) << outcome.error;
    EXPECT_EQ(outcome.options->outputPath, (dir_ / "london.png").string());
    EXPECT_EQ(outcome.options->deleteTiles, DeletePolicy::Delete);

    outcome = ParseMakeArguments({"--tiles=0,0,0,0", "--zoom=1", (dir_ / "a.png").string(), "-o"},
                                 catalogue_);
    EXPECT_FALSE(outcome.options.has_value());
    EXPECT_NE(outcome.error.find("-o needs a value"), std::string::npos);
    outcome = ParseMakeArguments({"--tiles=0,0,0,0", "--zoom=1", "-x", (dir_ / "a.png").string()},
                                 catalogue_);
    EXPECT_NE(outcome.error.find("unknown option -x"), std::string::npos);
}

TEST_F(MakeOptionsTest, BoxInDegreesCoversTheTilesItTouches) {
    // Zoom 2: columns are 90 degrees wide; rows split at 0 and +-66.51 degrees.
    MakeOptions o = Options({"--box=-170,10,-100,60", "--zoom=2"});
    EXPECT_EQ(o.range.xFirst, 0);
    EXPECT_EQ(o.range.xLast, 0);
    EXPECT_EQ(o.range.yFirst, 1);
    EXPECT_EQ(o.range.yLast, 1);

    // An east edge on a column boundary takes the column beyond it, as a
    // selection edge does; just short of the boundary it does not.
    o = Options({"--box=-170,10,-90,60", "--zoom=2"});
    EXPECT_EQ(o.range.xLast, 1);
    o = Options({"--box=-170,10,-90.001,60", "--zoom=2"});
    EXPECT_EQ(o.range.xLast, 0);

    // The whole world ends at the last column and row, not beyond.
    o = Options({"--box=-180,-85.05,180,85.05", "--zoom=3"});
    EXPECT_EQ(o.range.xFirst, 0);
    EXPECT_EQ(o.range.yFirst, 0);
    EXPECT_EQ(o.range.xLast, 7);
    EXPECT_EQ(o.range.yLast, 7);
    EXPECT_EQ(o.tiles.size(), 64u);

    // London at zoom 10: column 511, row 340 holds 51.5 N, 0.1 W.
    o = Options({"--box=-0.12,51.50,-0.11,51.51", "--zoom=10"});
    EXPECT_EQ(o.range.xFirst, 511);
    EXPECT_EQ(o.range.yFirst, 340);
    EXPECT_EQ(o.tiles.size(), 1u);

    EXPECT_NE(Error({"--box=10,0,5,1", "--zoom=3"}), "");
    EXPECT_NE(Error({"--box=0,10,5,1", "--zoom=3"}), "");
    EXPECT_NE(Error({"--box=0,0,5,89", "--zoom=3"}), "");
    EXPECT_NE(Error({"--box=0,0,5,5", "--zoom=0"}), "");
}

TEST_F(MakeOptionsTest, TheProxyIsTheEnvironmentsUnlessGivenAndAnyOtherTextIsRefused) {
    using Kind = ProxyChoice::Kind;
    EXPECT_EQ(Options({"--tiles=0,0,0,0", "--zoom=1"}).proxy.kind, Kind::Environment);
    EXPECT_EQ(Options({"--tiles=0,0,0,0", "--zoom=1", "--proxy", ""}).proxy.kind, Kind::Direct);
    const ProxyChoice given =
        Options({"--tiles=0,0,0,0", "--zoom=1", "--proxy=http://u:p@proxy:3128"}).proxy;
    EXPECT_EQ(given.kind, Kind::Given);
    EXPECT_EQ(given.url, "http://u:p@proxy:3128");
    EXPECT_EQ(given.origin, "--proxy");
    const std::string error = Error({"--tiles=0,0,0,0", "--zoom=1", "--proxy=ftp://u:secret@h:1"});
    EXPECT_NE(error.find("--proxy: 'ftp://***@h:1' is no proxy's address"), std::string::npos)
        << error;
    EXPECT_EQ(error.find("secret"), std::string::npos);
    // The capabilities of --add-wmts come through it too.
    const ParseOutcome wmts =
        ParseMakeArguments({"--add-wmts", "caps.xml", "--proxy", "direct"}, catalogue_);
    ASSERT_TRUE(wmts.addWmts.has_value()) << wmts.error;
    EXPECT_EQ(wmts.addWmts->proxy.kind, Kind::Direct);
}

TEST_F(MakeOptionsTest, AreaMustBeGivenExactlyOnce) {
    EXPECT_NE(Error({"--zoom=3"}), "");
    EXPECT_NE(Error({"--tiles=0,0,1,1", "--box=0,0,5,5", "--zoom=3"}), "");
    EXPECT_NE(Error({"--tiles=0,0,1,1", "--page-zoom=1", "--zoom=3"}), "");
}

TEST_F(MakeOptionsTest, LayersTemplatesAndSubfoldersMakeTheSourcesValues) {
    const MakeOptions o =
        Options({"--tiles=0,0,0,0", "--zoom=1", "--layers=sat,hybrid", "--template-sat",
                 "http://a/[X]", "--subfolder-hybrid=hyb", "--hl=de"});
    const MapSourcesValues v = o.SourcesValues();
    EXPECT_FALSE(v.IsDownloaded(MapLayer::Map));
    EXPECT_TRUE(v.IsDownloaded(MapLayer::Satellite));
    EXPECT_FALSE(v.IsDownloaded(MapLayer::Terrain));
    EXPECT_TRUE(v.IsDownloaded(MapLayer::Hybrid));
    EXPECT_EQ(v[MapLayer::Satellite].sourceUrl, "http://a/[X]");
    EXPECT_EQ(v[MapLayer::Hybrid].sourceUrl, DefaultSourceUrl(MapLayer::Hybrid));
    EXPECT_EQ(v[MapLayer::Hybrid].subfolder, "hyb");
    EXPECT_EQ(v[MapLayer::Map].subfolder, "");
    EXPECT_EQ(o.languageCode, "de");

    EXPECT_TRUE(
        Options({"--tiles=0,0,0,0", "--zoom=1"}).SourcesValues().IsDownloaded(MapLayer::Map));
    const MapSourcesValues all =
        Options({"--tiles=0,0,0,0", "--zoom=1", "--layers=all"}).SourcesValues();
    for (MapLayer layer : kAllLayers) {
        EXPECT_TRUE(all.IsDownloaded(layer));
    }
    EXPECT_NE(Error({"--tiles=0,0,0,0", "--zoom=1", "--layers=map,roads"}), "");
    EXPECT_NE(Error({"--tiles=0,0,0,0", "--zoom=1", "--template-streets=x"}), "");
}

TEST_F(MakeOptionsTest, OutputMustNameAFileInAnExistingFolder) {
    ParseOutcome outcome = ParseMakeArguments({"--tiles=0,0,0,0", "--zoom=1"}, catalogue_);
    EXPECT_NE(outcome.error.find("output"), std::string::npos);
    outcome = ParseMakeArguments(
        {"--tiles=0,0,0,0", "--zoom=1", (dir_ / "missing" / "map.png").string()}, catalogue_);
    EXPECT_NE(outcome.error.find("does not exist"), std::string::npos);
    outcome = ParseMakeArguments(
        {"--tiles=0,0,0,0", "--zoom=1", (dir_ / "a.png").string(), (dir_ / "b.png").string()},
        catalogue_);
    EXPECT_NE(outcome.error, "");
    outcome = ParseMakeArguments(
        {"--tiles=0,0,0,0", "--zoom=1", "--delete-tiles", "--keep-tiles", "x.png"}, catalogue_);
    EXPECT_NE(outcome.error.find("contradict"), std::string::npos);
    outcome = ParseMakeArguments({"--tiles=0,0,0,0", "--zoom=1", "--bogus", "x.png"}, catalogue_);
    EXPECT_NE(outcome.error.find("--bogus"), std::string::npos);
    EXPECT_TRUE(ParseMakeArguments({"--tiles=1", "--help"}, catalogue_).helpAsked);
}

// Every row of the option table, and nothing else, is an option line of
// --help, in the help's order (the area's options first); every spelling it
// shows is one the reading knows.
TEST_F(MakeOptionsTest, HelpListsExactlyTheTablesOptionsAndEachIsRead) {
    const std::string usage = MakeUsage();
    std::vector<std::string> listed;
    std::istringstream lines(usage);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("  -", 0) == 0) {
            listed.push_back(line.substr(2, line.find("  ", 2) - 2));
        }
    }
    std::vector<std::string> area;
    std::vector<std::string> others;
    for (const MakeOption& option : MakeOptionTable()) {
        std::string label(option.spellings);
        label += option.value.empty() ? "" : " " + std::string(option.value);
        (option.area ? area : others).push_back(label);
        std::istringstream help{std::string(option.help)};
        for (std::string line; std::getline(help, line);) {
            EXPECT_NE(usage.find(line), std::string::npos) << label << ": " << line;
        }
        std::istringstream spellings{std::string(option.spellings)};
        for (std::string spelling; std::getline(spellings >> std::ws, spelling, ',');) {
            if (const auto layer = spelling.find("LAYER"); layer != std::string::npos) {
                spelling.replace(layer, 5, "map");
            }
            const ParseOutcome read = ParseMakeArguments({spelling, "1"}, catalogue_);
            EXPECT_EQ(read.error.find("unknown option"), std::string::npos) << read.error;
        }
    }
    area.insert(area.end(), others.begin(), others.end());
    EXPECT_EQ(listed, area);
}

TEST_F(MakeOptionsTest, SourceIsTakenFromTheCatalogueGiven) {
    std::string why;
    TileSource source;
    source.id = "demo";
    source.name = "Demo";
    source.layers = {
        {MapLayer::Satellite, "Aerial", TileTemplate::Parse("http://a/{z}/{x}/{y}", why).value()}};
    source.maxZoom = 5;
    source.connections = 2;
    catalogue_.sources.push_back(source);

    const MakeOptions o = Options({"--source=demo", "--tiles=0,0,0,0", "--zoom=1", "--jobs=8"});
    ASSERT_TRUE(o.source.has_value());
    EXPECT_EQ(o.source->name, "Demo");
    EXPECT_EQ(o.jobs, 2); // no more connections than the source allows
    EXPECT_TRUE(o.SourcesValues().IsDownloaded(MapLayer::Satellite));
    EXPECT_FALSE(o.SourcesValues().IsDownloaded(MapLayer::Map));

    EXPECT_NE(
        Error({"--source=other", "--tiles=0,0,0,0", "--zoom=1"}).find("no tile source 'other'"),
        std::string::npos);
    EXPECT_NE(Error({"--source=demo", "--layers=map", "--tiles=0,0,0,0", "--zoom=1"})
                  .find("has no map layer (it offers satellite)"),
              std::string::npos);
    EXPECT_NE(Error({"--source=demo", "--tiles=0,0,0,0", "--zoom=6"}).find("zooms 0 to 5, not 6"),
              std::string::npos);
}

} // namespace
} // namespace quiltara::make

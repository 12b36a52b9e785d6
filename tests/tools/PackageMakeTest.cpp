// quiltara-make's offline map packages against the offline map service,
// read back as a map program would: with SQLite, and with GDAL where it is
// installed.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <nlohmann/json.hpp>
#include <numbers>
#include <set>
#include <sstream>
#include <tuple>

#include "HttpTestSinks.h"
#include "QuiltaraMakeFixture.h"
#include "stitch/SqliteDatabase.h"

namespace quiltara::make {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

// The area of every case: tiles 10..12 x 20..21 at zoom 5.
constexpr int kDeepest = 5;
constexpr int kFirstColumn = 10;
constexpr int kFirstRow = 20;
constexpr int kColumns = 3;
constexpr int kRows = 2;

struct PackageCase {
    const char* name;
    const char* format; // --format
    const char* zooms;  // --zoom
    MapLayer layer;
    const char* prefix;
    const char* tileFormat;          // MBTiles: what the metadata says the tiles are
    std::map<int, int> tilesPerZoom; // worked out by hand from the area
    bool catalogue = false;          // through the offline-demo tile source
};

// clang-format off
const PackageCase kCases[] = {
    {"MbtilesRoadMapOverThreeZooms", "mbtiles", "3-5", MapLayer::Map, "Map_", "png",
     {{3, 2}, {4, 2}, {5, 6}}},
    {"MbtilesSatelliteKeepsItsJpeg", "mbtiles", "4-5", MapLayer::Satellite, "Sat_", "jpg",
     {{4, 2}, {5, 6}}},
    {"MbtilesSingleZoomOverlay", "mbtiles", "5", MapLayer::Hybrid, "Hyb_", "png", {{5, 6}}},
    {"MbtilesFromACatalogueSource", "mbtiles", "3-5", MapLayer::Terrain, "Ter_", "png",
     {{3, 2}, {4, 2}, {5, 6}}, true},
    {"GeoPackageRoadMapOverThreeZooms", "gpkg", "3-5", MapLayer::Map, "Map_", "",
     {{3, 2}, {4, 2}, {5, 6}}},
    {"GeoPackageSatelliteSingleZoom", "gpkg", "5", MapLayer::Satellite, "Sat_", "", {{5, 6}}},
};
// clang-format on

double Longitude(double column, int zoom) {
    return column / std::ldexp(1.0, zoom) * 360.0 - 180.0;
}

double Latitude(double row, int zoom) {
    const double n = std::numbers::pi * (1.0 - 2.0 * row / std::ldexp(1.0, zoom));
    return std::atan(std::sinh(n)) * 180.0 / std::numbers::pi;
}

std::vector<double> Numbers(const std::string& text) {
    std::vector<double> numbers;
    std::stringstream in(text);
    for (std::string part; std::getline(in, part, ',');) {
        numbers.push_back(std::stod(part));
    }
    return numbers;
}

std::string Blob(std::span<const unsigned char> bytes) {
    return std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

void PrintTo(const PackageCase& c, std::ostream* out) {
    *out << c.name;
}

class Packages : public QuiltaraMake, public ::testing::WithParamInterface<PackageCase> {
protected:
    // The tile as the server sends it, asked for directly.
    std::string ServerTile(MapLayer layer, int zoom, int column, int row) {
        CurlHttpClient http;
        test::MemorySink sink;
        http.Get(server_.BaseUrl() + "/tiles/" + LayerOptionName(layer) + "/" +
                     std::to_string(zoom) + "/" + std::to_string(column) + "/" +
                     std::to_string(row) + ".png",
                 {}, sink);
        return sink.body;
    }

    std::vector<std::string> Args(const PackageCase& c, const fs::path& output) {
        std::vector<std::string> args = {"--tiles=10,20,12,21",
                                         std::string("--zoom=") + c.zooms,
                                         std::string("--format=") + c.format,
                                         std::string("--layers=") + LayerOptionName(c.layer),
                                         "--keep-tiles",
                                         "--quiet",
                                         "--jobs=1",
                                         "-o",
                                         output.string()};
        if (c.catalogue) {
            args.insert(args.end(), {"--source=offline-demo", "--map-service",
                                     "127.0.0.1:" + std::to_string(server_.Port())});
        } else {
            args.push_back(std::string("--template-") + LayerOptionName(c.layer) + "=" +
                           server_.Template(c.layer));
        }
        return args;
    }

    test::DemoServer server_{test::DemoServerOptions().MissingTile(4, 5, 10)};
};

TEST_P(Packages, HoldEveryZoomOfTheAreaAsTheServerSentIt) {
    const PackageCase& c = GetParam();
    const bool mbtiles = std::string(c.format) == "mbtiles";
    const fs::path package = out_ / (c.prefix + std::string("area.") + c.format);
    const Finished run = Make(Args(c, out_ / (std::string("area.") + c.format)));
    const bool missesOne = c.tilesPerZoom.count(4) != 0;
    // Tile 4/5/10 is missing on the server: named as failed tiles are, and left out.
    ASSERT_EQ(run.status, missesOne ? 3 : 0) << run.out << run.err;
    EXPECT_EQ(run.out.find("There were errors downloading some of the images") != std::string::npos,
              missesOne);
    EXPECT_EQ(run.err.find("the packages lack them") != std::string::npos, missesOne);

    // Shallow zooms were asked for first.
    int lastZoom = -1;
    for (const test::LoggedRequest& request : server_.Requests()) {
        if (request.Target().find("/wmts") != std::string::npos) {
            continue;
        }
        const std::string zoomText =
            c.catalogue ? request.Target().substr(request.Target().find('/', 7) + 1)
                        : request.Param("z");
        const int zoom = std::stoi(zoomText);
        EXPECT_GE(zoom, lastZoom) << request.Target();
        lastZoom = zoom;
    }

    SqliteDatabase db(package.string(), SqliteDatabase::Mode::ReadOnly);
    SqliteStatement check = db.Prepare("PRAGMA integrity_check");
    ASSERT_TRUE(check.Step());
    EXPECT_EQ(check.Text(0), "ok");

    std::map<int, int> counted;
    SqliteStatement perZoom =
        db.Prepare("SELECT zoom_level, count(*) FROM tiles GROUP BY zoom_level");
    while (perZoom.Step()) {
        counted[static_cast<int>(perZoom.Integer(0))] = static_cast<int>(perZoom.Integer(1));
    }
    std::map<int, int> expected = c.tilesPerZoom;
    if (missesOne) {
        --expected[4];
    }
    EXPECT_EQ(counted, expected);

    // Every tile of the deepest zoom and a shallower one, at its place: MBTiles
    // counts rows from the bottom of the grid, GeoPackage from the top.
    SqliteStatement tile = db.Prepare(
        "SELECT tile_data FROM tiles WHERE zoom_level = ?1 AND tile_column = ?2 AND tile_row = ?3");
    const int firstZoom = c.tilesPerZoom.begin()->first;
    for (const auto& [zoom, column, row] :
         {std::tuple{kDeepest, kFirstColumn, kFirstRow},
          std::tuple{kDeepest, kFirstColumn + 2, kFirstRow + 1},
          std::tuple{firstZoom, (kFirstColumn + 2) >> (kDeepest - firstZoom),
                     (kFirstRow + 1) >> (kDeepest - firstZoom)}}) {
        const int stored = mbtiles ? (1 << zoom) - 1 - row : row;
        tile.Bind(1, std::int64_t{zoom})
            .Bind(2, std::int64_t{column})
            .Bind(3, std::int64_t{stored});
        ASSERT_TRUE(tile.Step()) << zoom << "/" << column << "/" << row;
        EXPECT_EQ(Blob(tile.Blob(0)), ServerTile(c.layer, zoom, column, row))
            << zoom << "/" << column << "/" << row;
        tile.Reset();
    }

    const double west = Longitude(kFirstColumn, kDeepest);
    const double east = Longitude(kFirstColumn + kColumns, kDeepest);
    const double north = Latitude(kFirstRow, kDeepest);
    const double south = Latitude(kFirstRow + kRows, kDeepest);
    if (mbtiles) {
        std::map<std::string, std::string> metadata;
        SqliteStatement read = db.Prepare("SELECT name, value FROM metadata");
        while (read.Step()) {
            metadata[read.Text(0)] = read.Text(1);
        }
        EXPECT_EQ(metadata["name"], c.prefix + std::string("area"));
        EXPECT_EQ(metadata["format"], c.tileFormat);
        EXPECT_EQ(metadata["minzoom"], std::to_string(firstZoom));
        EXPECT_EQ(metadata["maxzoom"], std::to_string(kDeepest));
        EXPECT_EQ(metadata["type"], c.layer == MapLayer::Hybrid ? "overlay" : "baselayer");
        EXPECT_THAT(metadata["description"], HasSubstr(LayerOptionName(c.layer)));
        // The same credit as the run's images: the source's, or the map service's own.
        EXPECT_EQ(metadata["attribution"], c.catalogue
                                               ? "Tiles drawn by Quiltara's offline demo-map-server"
                                               : "Google Maps");
        const std::vector<double> bounds = Numbers(metadata["bounds"]);
        ASSERT_EQ(bounds.size(), 4U);
        EXPECT_NEAR(bounds[0], west, 1e-9);
        EXPECT_NEAR(bounds[1], south, 1e-9);
        EXPECT_NEAR(bounds[2], east, 1e-9);
        EXPECT_NEAR(bounds[3], north, 1e-9);
        const std::vector<double> centre = Numbers(metadata["center"]);
        ASSERT_EQ(centre.size(), 3U);
        EXPECT_NEAR(centre[0], (west + east) / 2, 1e-9);
        EXPECT_NEAR(centre[1], Latitude(kFirstRow + kRows / 2.0, kDeepest), 1e-9);
        EXPECT_EQ(centre[2], firstZoom);
    } else {
        SqliteStatement pragmas = db.Prepare(
            "SELECT application_id, user_version FROM pragma_application_id, pragma_user_version");
        ASSERT_TRUE(pragmas.Step());
        EXPECT_EQ(pragmas.Integer(0), 0x47504B47); // "GPKG"
        EXPECT_EQ(pragmas.Integer(1), 10300);
        std::set<std::int64_t> systems;
        SqliteStatement srs = db.Prepare("SELECT srs_id FROM gpkg_spatial_ref_sys");
        while (srs.Step()) {
            systems.insert(srs.Integer(0));
        }
        EXPECT_EQ(systems, (std::set<std::int64_t>{-1, 0, 3857, 4326}));
        SqliteStatement contents =
            db.Prepare("SELECT table_name, data_type, srs_id, min_x, max_y FROM gpkg_contents");
        ASSERT_TRUE(contents.Step());
        EXPECT_EQ(contents.Text(0), "tiles");
        EXPECT_EQ(contents.Text(1), "tiles");
        EXPECT_EQ(contents.Integer(2), 3857);
        EXPECT_FALSE(contents.Step());
        std::map<int, std::int64_t> widths;
        SqliteStatement matrix =
            db.Prepare("SELECT zoom_level, matrix_width, matrix_height FROM gpkg_tile_matrix");
        while (matrix.Step()) {
            EXPECT_EQ(matrix.Integer(1), matrix.Integer(2));
            widths[static_cast<int>(matrix.Integer(0))] = matrix.Integer(1);
        }
        std::map<int, std::int64_t> expectedWidths;
        for (const auto& [zoom, tiles] : c.tilesPerZoom) {
            expectedWidths[zoom] = std::int64_t{1} << zoom;
        }
        EXPECT_EQ(widths, expectedWidths);
    }

    if (std::system("command -v gdalinfo >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "gdalinfo is not installed: the packages were not opened with GDAL";
    }
    const fs::path json = dir_ / "gdalinfo.json";
    ASSERT_EQ(std::system(("gdalinfo -json " + Quoted(package.string()) + " >" +
                           Quoted(json.string()) + " 2>/dev/null")
                              .c_str()),
              0);
    const nlohmann::json info = nlohmann::json::parse(test::ReadFile(json));
    EXPECT_EQ(info["size"], nlohmann::json::array({kColumns * 256, kRows * 256}));
    // One overview per zoom above the deepest. (GDAL lists none for a zoom at
    // which this area is only 96 x 64 pixels, zoom 2; the cases stop at 3.)
    EXPECT_EQ(info["bands"][0].value("overviews", nlohmann::json::array()).size(),
              c.tilesPerZoom.size() - 1);
    const auto& lonLat = info["wgs84Extent"]["coordinates"][0];
    double gdalWest = 180, gdalEast = -180, gdalSouth = 90, gdalNorth = -90;
    for (const auto& corner : lonLat) {
        gdalWest = std::min(gdalWest, corner[0].get<double>());
        gdalEast = std::max(gdalEast, corner[0].get<double>());
        gdalSouth = std::min(gdalSouth, corner[1].get<double>());
        gdalNorth = std::max(gdalNorth, corner[1].get<double>());
    }
    EXPECT_NEAR(gdalWest, west, 1e-6);
    EXPECT_NEAR(gdalEast, east, 1e-6);
    EXPECT_NEAR(gdalSouth, south, 1e-6);
    EXPECT_NEAR(gdalNorth, north, 1e-6);
}

INSTANTIATE_TEST_SUITE_P(Formats, Packages, ::testing::ValuesIn(kCases),
                         [](const auto& named) { return std::string(named.param.name); });

TEST_F(QuiltaraMake, ZoomRangesAreForPackagesAndCountedPerZoomBeforeAnythingIsFetched) {
    test::DemoServer server;
    const std::string output = "--output=" + (out_ / "a.mbtiles").string();
    const Finished estimate =
        Make({"--tiles=10,20,12,21", "--zoom=3-5", "--format=mbtiles", "--dry-run", output});
    EXPECT_EQ(estimate.status, 0) << estimate.err;
    EXPECT_THAT(estimate.out, HasSubstr("10 tiles (zoom 3: 2, zoom 4: 2, zoom 5: 6) x 1 layer"));
    EXPECT_THAT(estimate.out, HasSubstr("one package per layer"));

    struct Refused {
        std::vector<std::string> args;
        const char* why;
    };
    const Refused refused[] = {
        {{"--zoom=5-3", "--format=gpkg"}, "must not be deeper than the last"},
        {{"--zoom=3-5"}, "give --format mbtiles or gpkg"},
        {{"--zoom=3-5", "--format=tiff"}, "give --format mbtiles or gpkg"},
        {{"--zoom=3-5", "--format=gpkg", "--in-memory"}, "tiles as they came"},
        {{"--zoom=3-x", "--format=gpkg"}, "or a range A-B"},
        {{"--zoom=5", "--format=webp"}, "png, tiff, mbtiles or gpkg"},
    };
    for (const Refused& r : refused) {
        std::vector<std::string> args = r.args;
        args.insert(args.end(), {"--tiles=10,20,12,21", output});
        const Finished run = Make(args);
        EXPECT_EQ(run.status, 2) << r.why;
        EXPECT_THAT(run.err, HasSubstr(r.why));
    }
    // The catalogue's zoom bounds and tile limit hold for every zoom of the range.
    UserSources user;
    user.Write("mine.json", user.Source(server, "Mine", R"(, "minZoom": 4, "tileLimit": 7)"));
    shellPrefix_ = user.Prefix();
    const Finished tooShallow =
        Make({"--source=mine", "--tiles=10,20,12,21", "--zoom=3-5", "--format=gpkg", output});
    EXPECT_EQ(tooShallow.status, 2);
    EXPECT_THAT(tooShallow.err, HasSubstr("not all of 3 to 5"));
    const Finished tooMany =
        Make({"--source=mine", "--tiles=10,20,12,21", "--zoom=4-5", "--format=gpkg", output});
    EXPECT_EQ(tooMany.status, 2);
    EXPECT_THAT(tooMany.err, HasSubstr("at most 7"));
}

} // namespace
} // namespace quiltara::make

#include "stitch/TilePackage.h"

#include <cmath>
#include <numbers>

#include "sources/SourcePage.h"
#include "tiles/TextFormat.h"

namespace quiltara {
namespace {

// A tile's edge as a fraction of the world, west or north edge 0.
double GridFraction(std::int64_t index, int zoom) {
    return std::ldexp(static_cast<double>(index), -zoom);
}

double LongitudeAt(double fraction) {
    return fraction * 360.0 - 180.0;
}

double LatitudeAt(double fraction) {
    return std::atan(std::sinh(std::numbers::pi * (1.0 - 2.0 * fraction))) * 180.0 /
           std::numbers::pi;
}

// A number as text, exactly enough to come back as the same double.
std::string Number(double value) {
    return FormatText("%.17g", value);
}

// MBTiles 1.3: a metadata table of names and values and one tiles table,
// rows counted from the bottom (the TMS order the format was made with).
class MbtilesWriter : public TilePackageWriter {
public:
    explicit MbtilesWriter(SqliteDatabase& db) : db_(db), insert_(Prepared(db)) {}

    void AddTile(int zoom, int column, int row, std::span<const unsigned char> bytes) override {
        const std::int64_t rows = std::int64_t{1} << zoom;
        insert_.Bind(1, std::int64_t{zoom})
            .Bind(2, std::int64_t{column})
            .Bind(3, rows - 1 - row)
            .BindBlob(4, bytes)
            .Run();
    }

    void Finish(const PackageDescription& d) override {
        const AreaBounds b = DegreeBounds(d.range, d.lastZoom);
        const double centreRow = (GridFraction(d.range.yFirst, d.lastZoom) +
                                  GridFraction(d.range.yLast + 1, d.lastZoom)) /
                                 2.0;
        SqliteStatement add = db_.Prepare("INSERT INTO metadata (name, value) VALUES (?1, ?2)");
        auto put = [&add](const std::string& name, const std::string& value) {
            add.Bind(1, name).Bind(2, value).Run();
        };
        put("name", d.name);
        put("format", d.format == TileDataFormat::Jpeg ? "jpg" : "png");
        put("bounds",
            Number(b.west) + "," + Number(b.south) + "," + Number(b.east) + "," + Number(b.north));
        // The middle of the area as seen on the map (the Mercator middle), at
        // the shallowest zoom, where the whole area is in view.
        put("center", Number((b.west + b.east) / 2.0) + "," + Number(LatitudeAt(centreRow)) + "," +
                          std::to_string(d.firstZoom));
        put("minzoom", std::to_string(d.firstZoom));
        put("maxzoom", std::to_string(d.lastZoom));
        if (!d.attribution.empty()) {
            put("attribution", HtmlEscaped(d.attribution));
        }
        put("description", d.description);
        put("type", d.overlay ? "overlay" : "baselayer");
    }

private:
    static SqliteStatement Prepared(SqliteDatabase& db) {
        db.Execute(
            "CREATE TABLE metadata (name TEXT, value TEXT);"
            "CREATE UNIQUE INDEX name ON metadata (name);"
            "CREATE TABLE tiles (zoom_level INTEGER, tile_column INTEGER, tile_row INTEGER, "
            "tile_data BLOB);"
            "CREATE UNIQUE INDEX tile_index ON tiles (zoom_level, tile_column, tile_row);");
        return db.Prepare(
            "INSERT INTO tiles (zoom_level, tile_column, tile_row, tile_data) VALUES (?1, ?2, "
            "?3, ?4)");
    }

    SqliteDatabase& db_;
    SqliteStatement insert_;
};

// The spatial reference systems a GeoPackage must have (WGS 84 and the two
// undefined ones), and the one its tiles are in.
constexpr const char* kSpatialReferenceSystems = R"sql(
INSERT INTO gpkg_spatial_ref_sys VALUES ('WGS 84 geodetic', 4326, 'EPSG', 4326,
 'GEOGCS["WGS 84",DATUM["WGS_1984",SPHEROID["WGS 84",6378137,298.257223563,AUTHORITY["EPSG","7030"]],AUTHORITY["EPSG","6326"]],PRIMEM["Greenwich",0,AUTHORITY["EPSG","8901"]],UNIT["degree",0.0174532925199433,AUTHORITY["EPSG","9122"]],AXIS["Latitude",NORTH],AXIS["Longitude",EAST],AUTHORITY["EPSG","4326"]]',
 'longitude/latitude coordinates in decimal degrees on the WGS 84 spheroid');
INSERT INTO gpkg_spatial_ref_sys VALUES ('Undefined cartesian SRS', -1, 'NONE', -1, 'undefined',
 'undefined cartesian coordinate reference system');
INSERT INTO gpkg_spatial_ref_sys VALUES ('Undefined geographic SRS', 0, 'NONE', 0, 'undefined',
 'undefined geographic coordinate reference system');
INSERT INTO gpkg_spatial_ref_sys VALUES ('WGS 84 / Pseudo-Mercator', 3857, 'EPSG', 3857,
 'PROJCS["WGS 84 / Pseudo-Mercator",GEOGCS["WGS 84",DATUM["WGS_1984",SPHEROID["WGS 84",6378137,298.257223563,AUTHORITY["EPSG","7030"]],AUTHORITY["EPSG","6326"]],PRIMEM["Greenwich",0,AUTHORITY["EPSG","8901"]],UNIT["degree",0.0174532925199433,AUTHORITY["EPSG","9122"]],AUTHORITY["EPSG","4326"]],PROJECTION["Mercator_1SP"],PARAMETER["central_meridian",0],PARAMETER["scale_factor",1],PARAMETER["false_easting",0],PARAMETER["false_northing",0],UNIT["metre",1,AUTHORITY["EPSG","9001"]],AXIS["Easting",EAST],AXIS["Northing",NORTH],EXTENSION["PROJ4","+proj=merc +a=6378137 +b=6378137 +lat_ts=0 +lon_0=0 +x_0=0 +y_0=0 +k=1 +units=m +nadgrids=@null +wktext +no_defs"],AUTHORITY["EPSG","3857"]]',
 'Spherical Mercator projection used by web maps');
)sql";

constexpr const char* kGeoPackageTables = R"sql(
PRAGMA application_id = 1196444487;
PRAGMA user_version = 10300;
CREATE TABLE gpkg_spatial_ref_sys (srs_name TEXT NOT NULL, srs_id INTEGER NOT NULL PRIMARY KEY,
 organization TEXT NOT NULL, organization_coordsys_id INTEGER NOT NULL, definition TEXT NOT NULL,
 description TEXT);
CREATE TABLE gpkg_contents (table_name TEXT NOT NULL PRIMARY KEY, data_type TEXT NOT NULL,
 identifier TEXT UNIQUE, description TEXT DEFAULT '',
 last_change DATETIME NOT NULL DEFAULT (strftime('%Y-%m-%dT%H:%M:%fZ','now')),
 min_x DOUBLE, min_y DOUBLE, max_x DOUBLE, max_y DOUBLE, srs_id INTEGER,
 CONSTRAINT fk_gc_r_srs_id FOREIGN KEY (srs_id) REFERENCES gpkg_spatial_ref_sys(srs_id));
CREATE TABLE gpkg_tile_matrix_set (table_name TEXT NOT NULL PRIMARY KEY, srs_id INTEGER NOT NULL,
 min_x DOUBLE NOT NULL, min_y DOUBLE NOT NULL, max_x DOUBLE NOT NULL, max_y DOUBLE NOT NULL,
 CONSTRAINT fk_gtms_table_name FOREIGN KEY (table_name) REFERENCES gpkg_contents(table_name),
 CONSTRAINT fk_gtms_srs FOREIGN KEY (srs_id) REFERENCES gpkg_spatial_ref_sys (srs_id));
CREATE TABLE gpkg_tile_matrix (table_name TEXT NOT NULL, zoom_level INTEGER NOT NULL,
 matrix_width INTEGER NOT NULL, matrix_height INTEGER NOT NULL, tile_width INTEGER NOT NULL,
 tile_height INTEGER NOT NULL, pixel_x_size DOUBLE NOT NULL, pixel_y_size DOUBLE NOT NULL,
 CONSTRAINT pk_ttm PRIMARY KEY (table_name, zoom_level),
 CONSTRAINT fk_tmm_table_name FOREIGN KEY (table_name) REFERENCES gpkg_contents(table_name));
CREATE TABLE tiles (id INTEGER PRIMARY KEY AUTOINCREMENT, zoom_level INTEGER NOT NULL,
 tile_column INTEGER NOT NULL, tile_row INTEGER NOT NULL, tile_data BLOB NOT NULL,
 UNIQUE (zoom_level, tile_column, tile_row));
)sql";

// GeoPackage 1.3: the tile matrix set is the whole Web Mercator world, so
// that zoom z has 2^z columns and rows counted from the top, as the grid
// counts them; the contents' extent is the area.
class GeoPackageWriter : public TilePackageWriter {
public:
    explicit GeoPackageWriter(SqliteDatabase& db) : db_(db), insert_(Prepared(db)) {}

    void AddTile(int zoom, int column, int row, std::span<const unsigned char> bytes) override {
        insert_.Bind(1, std::int64_t{zoom})
            .Bind(2, std::int64_t{column})
            .Bind(3, std::int64_t{row})
            .BindBlob(4, bytes)
            .Run();
    }

    void Finish(const PackageDescription& d) override {
        const AreaBounds b = MercatorBounds(d.range, d.lastZoom);
        db_.Prepare(
               "INSERT INTO gpkg_contents (table_name, data_type, identifier, description, "
               "min_x, min_y, max_x, max_y, srs_id) VALUES ('tiles', 'tiles', ?1, ?2, ?3, ?4, "
               "?5, ?6, 3857)")
            .Bind(1, d.name)
            .Bind(2, d.description + (d.attribution.empty() ? "" : ". " + d.attribution))
            .Bind(3, b.west)
            .Bind(4, b.south)
            .Bind(5, b.east)
            .Bind(6, b.north)
            .Run();
        db_.Prepare("INSERT INTO gpkg_tile_matrix_set VALUES ('tiles', 3857, ?1, ?1, ?2, ?2)")
            .Bind(1, -kMercatorHalfWorld)
            .Bind(2, kMercatorHalfWorld)
            .Run();
        SqliteStatement matrix = db_.Prepare(
            "INSERT INTO gpkg_tile_matrix VALUES ('tiles', ?1, ?2, ?2, 256, 256, ?3, ?3)");
        for (int zoom = d.firstZoom; zoom <= d.lastZoom; ++zoom) {
            const std::int64_t size = std::int64_t{1} << zoom;
            matrix.Bind(1, std::int64_t{zoom})
                .Bind(2, size)
                .Bind(3, 2.0 * kMercatorHalfWorld / (256.0 * static_cast<double>(size)))
                .Run();
        }
    }

private:
    static SqliteStatement Prepared(SqliteDatabase& db) {
        db.Execute(kGeoPackageTables);
        db.Execute(kSpatialReferenceSystems);
        return db.Prepare(
            "INSERT INTO tiles (zoom_level, tile_column, tile_row, tile_data) VALUES (?1, ?2, "
            "?3, ?4)");
    }

    SqliteDatabase& db_;
    SqliteStatement insert_;
};

} // namespace

TileDataFormat SniffTileData(std::span<const unsigned char> bytes) {
    static constexpr unsigned char kPng[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    if (bytes.size() >= sizeof kPng &&
        std::equal(std::begin(kPng), std::end(kPng), bytes.begin())) {
        return TileDataFormat::Png;
    }
    if (bytes.size() >= 3 && bytes[0] == 0xff && bytes[1] == 0xd8 && bytes[2] == 0xff) {
        return TileDataFormat::Jpeg;
    }
    return TileDataFormat::Other;
}

std::unique_ptr<TilePackageWriter> MakePackageWriter(PackageKind kind, SqliteDatabase& db) {
    if (kind == PackageKind::Mbtiles) {
        return std::make_unique<MbtilesWriter>(db);
    }
    return std::make_unique<GeoPackageWriter>(db);
}

AreaBounds DegreeBounds(const TileRange& range, int zoom) {
    return AreaBounds{LongitudeAt(GridFraction(range.xFirst, zoom)),
                      LatitudeAt(GridFraction(std::int64_t{range.yLast} + 1, zoom)),
                      LongitudeAt(GridFraction(std::int64_t{range.xLast} + 1, zoom)),
                      LatitudeAt(GridFraction(range.yFirst, zoom))};
}

AreaBounds MercatorBounds(const TileRange& range, int zoom) {
    auto metres = [](double fraction) { return (2.0 * fraction - 1.0) * kMercatorHalfWorld; };
    return AreaBounds{metres(GridFraction(range.xFirst, zoom)),
                      -metres(GridFraction(std::int64_t{range.yLast} + 1, zoom)),
                      metres(GridFraction(std::int64_t{range.xLast} + 1, zoom)),
                      -metres(GridFraction(range.yFirst, zoom))};
}

} // namespace quiltara

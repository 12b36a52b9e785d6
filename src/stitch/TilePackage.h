#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "stitch/SqliteDatabase.h"
#include "tiles/TileGrid.h"

namespace quiltara {

// The two kinds of offline map package: tiles as the server sent them, in
// one SQLite file per layer, over a range of zooms.
enum class PackageKind {
    Mbtiles,    // MBTiles 1.3: rows counted from the bottom of the grid
    GeoPackage, // GeoPackage 1.3 tiles: rows counted from the top
};

// What a tile's bytes are, told from their first bytes (the name of a tile
// file always ends in .png, whatever the server sent).
enum class TileDataFormat { Png, Jpeg, Other };
TileDataFormat SniffTileData(std::span<const unsigned char> bytes);

// How a package describes itself.
struct PackageDescription {
    std::string name;        // the package's own name: the file's name without extension
    std::string description; // what it shows
    std::string attribution; // the tiles' source; empty: not known
    bool overlay = false;    // a layer meant to lie over another (the hybrid labels)
    TileRange range;         // the area: its tiles at the deepest zoom
    int firstZoom = 0;
    int lastZoom = 0;
    // The format most tiles have (MBTiles records one for the whole file).
    TileDataFormat format = TileDataFormat::Png;
};

// Writes the tiles of one package into an empty database: the tables first,
// then the tiles one by one (zoom, column and row as the grid counts them:
// row 0 at the north edge), then what describes the whole.
class TilePackageWriter {
public:
    virtual ~TilePackageWriter() = default;
    virtual void AddTile(int zoom, int column, int row, std::span<const unsigned char> bytes) = 0;
    virtual void Finish(const PackageDescription& description) = 0;
};

std::unique_ptr<TilePackageWriter> MakePackageWriter(PackageKind kind, SqliteDatabase& db);

// The area's edges: west, south, east and north of range at zoom, in degrees
// (WGS 84) and in metres of WGS 84 / Pseudo-Mercator, computed at full
// precision (packages are read by GIS programs).
struct AreaBounds {
    double west = 0.0;
    double south = 0.0;
    double east = 0.0;
    double north = 0.0;
};
AreaBounds DegreeBounds(const TileRange& range, int zoom);
AreaBounds MercatorBounds(const TileRange& range, int zoom);

// Half the width of the Web Mercator world, in metres.
inline constexpr double kMercatorHalfWorld = 20037508.342789244;

} // namespace quiltara

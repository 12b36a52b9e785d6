#include "assembly/WorldFile.h"

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <numbers>
#include <system_error>

#include "platform/AtomicFile.h"
#include "tiles/TextFormat.h"

namespace quiltara {
namespace {

// The Pseudo-Mercator sphere: the WGS 84 semi-major axis.
constexpr double kEarthRadius = 6378137.0;
constexpr double kTileSize = 256.0;

// Metres come straight from the grid's pixels (the square world centred on
// (0, 0)), not through the grid's degree functions: their rounded constants
// (pi / 2 as 1.57079635) would move a deep zoom's map by part of a pixel.
double MetresPerPixel(int zoom) {
    return 2.0 * std::numbers::pi * kEarthRadius / std::ldexp(kTileSize, zoom);
}

double WorldOrigin(int zoom) {
    return std::ldexp(kTileSize / 2.0, zoom);
}

// A GIS program never finds half a world file under the final name.
bool WriteWhole(const std::filesystem::path& path, const std::string& text) {
    try {
        AtomicFile file(path);
        if (std::fwrite(text.data(), 1, text.size(), file.Stream()) != text.size()) {
            return false; // the temporary file goes with the object
        }
        file.Commit();
        return true;
    } catch (const std::system_error&) {
        return false;
    }
}

} // namespace

WorldFileNumbers WorldFileFor(const TileRange& range, int zoom) {
    const double metres = MetresPerPixel(zoom);
    const double origin = WorldOrigin(zoom);
    const double left = kTileSize * range.xFirst - origin;
    const double top = origin - kTileSize * range.yFirst;
    WorldFileNumbers numbers;
    numbers.pixelWidth = metres;
    numbers.pixelHeight = -metres;
    numbers.centreX = (left + 0.5) * metres;
    numbers.centreY = (top - 0.5) * metres;
    return numbers;
}

std::string WorldFileText(const WorldFileNumbers& n) {
    // Twelve decimals keep a deep zoom's pixel size (a tenth of a millimetre
    // at zoom 30) to nine digits; exponents are avoided, as some readers
    // take only plain decimals.
    return FormatText("%.12f\n%.12f\n%.12f\n%.12f\n%.12f\n%.12f\n", n.pixelWidth, n.rowRotation,
                      n.columnRotation, n.pixelHeight, n.centreX, n.centreY);
}

const std::string& PseudoMercatorWkt() {
    static const std::string wkt =
        "PROJCS[\"WGS 84 / Pseudo-Mercator\","
        "GEOGCS[\"WGS 84\","
        "DATUM[\"WGS_1984\",SPHEROID[\"WGS 84\",6378137,298.257223563,"
        "AUTHORITY[\"EPSG\",\"7030\"]],AUTHORITY[\"EPSG\",\"6326\"]],"
        "PRIMEM[\"Greenwich\",0,AUTHORITY[\"EPSG\",\"8901\"]],"
        "UNIT[\"degree\",0.0174532925199433,AUTHORITY[\"EPSG\",\"9122\"]],"
        "AUTHORITY[\"EPSG\",\"4326\"]],"
        "PROJECTION[\"Mercator_1SP\"],"
        "PARAMETER[\"central_meridian\",0],PARAMETER[\"scale_factor\",1],"
        "PARAMETER[\"false_easting\",0],PARAMETER[\"false_northing\",0],"
        "UNIT[\"metre\",1,AUTHORITY[\"EPSG\",\"9001\"]],"
        "AXIS[\"Easting\",EAST],AXIS[\"Northing\",NORTH],"
        "EXTENSION[\"PROJ4\",\"+proj=merc +a=6378137 +b=6378137 +lat_ts=0 +lon_0=0 +x_0=0 "
        "+y_0=0 +k=1 +units=m +nadgrids=@null +wktext +no_defs\"],"
        "AUTHORITY[\"EPSG\",\"3857\"]]";
    return wkt;
}

std::string SidecarPath(const std::string& imagePath, const std::string& extension) {
    std::filesystem::path path(imagePath);
    path.replace_extension(extension);
    if (path == imagePath) {
        // An image named like its own sidecar ("map.pgw") must not be
        // replaced by it.
        return imagePath + extension;
    }
    return path.string();
}

bool WriteGeoreference(const std::string& imagePath, const TileRange& range, int zoom) {
    const bool world =
        WriteWhole(SidecarPath(imagePath, ".pgw"), WorldFileText(WorldFileFor(range, zoom)));
    const bool projection = WriteWhole(SidecarPath(imagePath, ".prj"), PseudoMercatorWkt() + "\n");
    return world && projection;
}

} // namespace quiltara

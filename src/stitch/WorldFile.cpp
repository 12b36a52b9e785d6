#include "stitch/WorldFile.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
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

// A GIS program never finds half a world file under the final name. The
// reason, when it fails, goes to why.
bool WriteWhole(const std::filesystem::path& path, const std::string& text, std::string& why) {
    try {
        AtomicFile file(path);
        errno = 0;
        if (std::fwrite(text.data(), 1, text.size(), file.Stream()) != text.size()) {
            why = std::strerror(errno != 0 ? errno : EIO);
            return false; // the temporary file goes with the object
        }
        file.Commit();
        return true;
    } catch (const std::system_error& error) {
        why = error.code().message();
        return false;
    }
}

// Writes one sidecar; when it cannot be written, the earlier file of that
// name goes, and the message says so (or that it could not go).
bool WriteSidecar(const std::filesystem::path& path, const std::string& text, const char* what,
                  std::string& message) {
    std::string why;
    if (WriteWhole(path, text, why)) {
        return true;
    }
    std::error_code ec;
    const std::filesystem::file_status status = std::filesystem::symlink_status(path, ec);
    bool earlierStays = false;
    if (std::filesystem::is_regular_file(status) || std::filesystem::is_symlink(status)) {
        earlierStays = !std::filesystem::remove(path, ec) || ec;
    }
    message +=
        FormatText("The %s '%s' could not be written (%s).", what, path.c_str(), why.c_str());
    message += earlierStays
                   ? "  An earlier one of that name could not be removed either: delete it, or "
                     "GIS programs will place the image by it."
                   : "  The image is left without it.";
    message += "\n";
    return false;
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

bool WriteGeoreference(const std::string& imagePath, const TileRange& range, int zoom,
                       std::string* failure) {
    std::string message;
    const bool world =
        WriteSidecar(SidecarPath(imagePath, ".pgw"), WorldFileText(WorldFileFor(range, zoom)),
                     "world file", message);
    const bool projection = WriteSidecar(SidecarPath(imagePath, ".prj"), PseudoMercatorWkt() + "\n",
                                         "projection file", message);
    if (failure != nullptr) {
        *failure = message.empty() ? message : message.substr(0, message.size() - 1);
    }
    return world && projection;
}

} // namespace quiltara

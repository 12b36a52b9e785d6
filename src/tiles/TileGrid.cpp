#include "tiles/TileGrid.h"

#include <cmath>

#include "tiles/TextFormat.h"

namespace quiltara {
namespace {

// The grid's Mercator scale at one zoom. The constants are the system's own
// (2 pi as 6.2831854, pi / 2 as 1.57079635, 57.29578 degrees per radian): they
// decide the last printed digits of the span texts, so they stay as they are.
struct MercatorScale {
    double worldSize;
    double pixelsPerDegree;
    double pixelsPerRadian;
    double origin; // W / 2, an integer value

    explicit MercatorScale(int zoom)
        : worldSize(std::ldexp(256.0, zoom)),
          pixelsPerDegree(worldSize * 0.002777777777777778),
          pixelsPerRadian(worldSize / 6.2831854),
          origin(std::ldexp(128.0, zoom)) {}
};

// Tile indices are ints in file names and URLs; a scaled edge whose
// truncation (plus the one extra tile the count adds) leaves that range
// cannot be listed.
constexpr double kIndexLimit = 2147483648.0; // 2^31

RangeUpdate CountTextsOnly(std::string xImages) {
    RangeUpdate update;
    update.changesAnything = true;
    update.replacesTileList = true; // an empty list: nothing stale can be fetched
    update.xImagesText = std::move(xImages);
    update.yImagesText = "Unknown";
    update.totImagesText = "Unknown";
    return update;
}

bool IsMeasured(const CTileRect& s) {
    // Real selections lie on the grid (all values >= 0); the probe's failure
    // value is -1.0, and NaN never compares as >= 0 either.
    return s.top >= 0.0 && s.left >= 0.0 && s.right >= 0.0 && s.bottom >= 0.0;
}

std::string SpanText(double from, double to) {
    return FormatText("from %.9f to %.9f", from, to);
}

} // namespace

TileRange RangeAtZoom(const TileRange& range, int zoom, int shallowerZoom) {
    const int k = zoom - shallowerZoom;
    if (k <= 0) {
        return range;
    }
    if (k >= 31) {
        return TileRange{}; // every int tile number halves to 0 by then
    }
    // Tile numbers are never negative: a shift is the halving k times.
    return TileRange{range.xFirst >> k, range.yFirst >> k, range.xLast >> k, range.yLast >> k};
}

double TileLongitude(std::int64_t x, int zoom) {
    const MercatorScale scale(zoom);
    return (256.0 * static_cast<double>(x) - scale.origin) / scale.pixelsPerDegree;
}

double TileLatitude(std::int64_t y, int zoom) {
    const MercatorScale scale(zoom);
    const double offset = 256.0 * static_cast<double>(y) - scale.origin;
    return (2.0 * std::atan(std::exp(offset / -scale.pixelsPerRadian)) - 1.57079635) * 57.29578;
}

RangeUpdate ComputeRange(const CTileRect& selection, int pageZoom, const ZoomChoice& choice,
                         int originX, int originY) {
    if (choice.position == 0) {
        return {};
    }
    const int zoom = ReadLeadingInt(choice.text);
    if (pageZoom >= zoom) {
        return CountTextsOnly("Choose a higher zoom");
    }
    if (!IsMeasured(selection)) {
        return CountTextsOnly("No area measured");
    }

    const int k = zoom - pageZoom;
    const double top = std::ldexp(selection.top, k);
    const double left = std::ldexp(selection.left, k);
    const double right = std::ldexp(selection.right, k);
    const double bottom = std::ldexp(selection.bottom, k);
    if (right + 1.0 >= kIndexLimit || bottom + 1.0 >= kIndexLimit || left + 1.0 >= kIndexLimit ||
        top + 1.0 >= kIndexLimit) {
        return CountTextsOnly("Zoom too deep for tile numbers");
    }
    const double tileSize = std::ldexp(256.0, -k); // one output tile in view pixels

    TileRange range;
    range.xFirst = static_cast<int>(left);
    range.yFirst = static_cast<int>(top);
    range.xLast = static_cast<int>(right);
    range.yLast = static_cast<int>(bottom);
    const int xCount = static_cast<int>(right + 1.0) - range.xFirst;
    const int yCount = static_cast<int>(bottom + 1.0) - range.yFirst;

    const std::int64_t cells = static_cast<std::int64_t>(xCount > 0 ? xCount : 0) *
                               static_cast<std::int64_t>(yCount > 0 ? yCount : 0);
    if (cells > kMaxTileListSize) {
        RangeUpdate update =
            CountTextsOnly(FormatText("%i (%i to %i)", xCount, range.xFirst, range.xLast));
        update.yImagesText = FormatText("%i (%i to %i)", yCount, range.yFirst, range.yLast);
        update.totImagesText = FormatText("%lld: too many tiles", static_cast<long long>(cells));
        // The spans need no list: they describe this range, not an earlier one.
        update.longText =
            SpanText(TileLongitude(range.xFirst, zoom), TileLongitude(range.xLast, zoom));
        update.latText =
            SpanText(TileLatitude(range.yFirst, zoom), TileLatitude(range.yLast, zoom));
        return update;
    }

    RangeUpdate update;
    update.changesAnything = true;
    update.replacesTileList = true;
    update.tiles.reserve(static_cast<size_t>(cells));
    // Rows and columns run while they are <= the scaled far edge, compared as
    // reals: an edge exactly on a tile boundary includes the tile beyond it.
    for (std::int64_t row = range.yFirst; static_cast<double>(row) <= bottom; ++row) {
        for (std::int64_t col = range.xFirst; static_cast<double>(col) <= right; ++col) {
            const double dx = static_cast<double>(col) - left;
            const double dy = static_cast<double>(row) - top;
            update.tiles.push_back(CTileCell{static_cast<int>(col), static_cast<int>(row),
                                             originX + dx * tileSize, originY + dy * tileSize,
                                             originX + (dx + 1.0) * tileSize,
                                             originY + (dy + 1.0) * tileSize});
        }
    }
    update.range = range;
    update.xImagesText = FormatText("%i (%i to %i)", xCount, range.xFirst, range.xLast);
    update.yImagesText = FormatText("%i (%i to %i)", yCount, range.yFirst, range.yLast);
    update.totImagesText = FormatText("%i", static_cast<int>(update.tiles.size()));
    update.longText = SpanText(TileLongitude(range.xFirst, zoom), TileLongitude(range.xLast, zoom));
    update.latText = SpanText(TileLatitude(range.yFirst, zoom), TileLatitude(range.yLast, zoom));
    return update;
}

} // namespace quiltara

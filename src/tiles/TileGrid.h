#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quiltara {

// A position on the tile grid at the page zoom: fractional tile column and row
// (tile index plus pixel offset / 256). (-1, -1) means no position was found.
struct CTilePoint {
    double x = -1.0;
    double y = -1.0;
};

// A selection in fractional tile units at the page zoom. top and left come from
// the first corner, right and bottom from the second.
struct CTileRect {
    double top = 0.0;
    double left = 0.0;
    double right = 0.0;
    double bottom = 0.0;
};

// One tile to fetch: its column and row at the output zoom and its outline in
// view client pixels.
struct CTileCell {
    int column = 0;
    int row = 0;
    double left = 0.0;
    double top = 0.0;
    double right = 0.0;
    double bottom = 0.0;
};

// Inclusive first and last tile column and row at the output zoom.
struct TileRange {
    int xFirst = 0;
    int yFirst = 0;
    int xLast = 0;
    int yLast = 0;

    int Columns() const { return xLast - xFirst + 1; }
    int Rows() const { return yLast - yFirst + 1; }
};

// The zoom list's chosen entry: its position in the list and its text.
struct ZoomChoice {
    int position = 0;
    std::string text;
};

// Everything a change of selection or zoom choice does to the control panel.
// Fields left empty keep what the panel holds.
struct RangeUpdate {
    bool changesAnything = false;
    bool replacesTileList = false; // tiles (possibly empty) replaces the panel's list
    std::vector<CTileCell> tiles;
    std::optional<TileRange> range;
    std::optional<std::string> xImagesText;   // control 1004
    std::optional<std::string> yImagesText;   // control 1007
    std::optional<std::string> totImagesText; // control 1008
    std::optional<std::string> longText;      // control 1022
    std::optional<std::string> latText;       // control 1020
};

// The largest tile list a computation builds; beyond it the panel would need
// gigabytes just for the list, and no download of that size can finish.
inline constexpr std::int64_t kMaxTileListSize = 4 * 1024 * 1024;

// Turns the selection at page zoom pageZoom into the tile range, the tile list
// and the panel's texts at the zoom of the chosen entry. The caller checks that
// the active view is the map view (when it is not, nothing is computed).
RangeUpdate ComputeRange(const CTileRect& selection, int pageZoom, const ZoomChoice& choice,
                         int originX, int originY);

// The tiles at the shallower zoom that cover range at zoom: each step up
// halves every tile number, so the shallower range covers the same area.
TileRange RangeAtZoom(const TileRange& range, int zoom, int shallowerZoom);

// The number of tiles of range.
inline std::int64_t TileCount(const TileRange& range) {
    return std::int64_t{range.Columns()} * range.Rows();
}

// Longitude in degrees of the west edge of column x at zoom z.
double TileLongitude(std::int64_t x, int zoom);

// Latitude in degrees of the north edge of row y at zoom z.
double TileLatitude(std::int64_t y, int zoom);

} // namespace quiltara

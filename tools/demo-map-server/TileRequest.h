#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace demomap {

// The four kinds of tile the service draws.
enum class TileLayer { Map, Satellite, Terrain, Hybrid };

// Short name drawn on each tile: "Map", "Sat", "Ter", "Hyb".
const char* LayerLabel(TileLayer layer);

// One tile asked for, read from either form the service accepts: the tile
// servers' own form with the parameters straight after the path
// ("/vt/v=w2.97&hl=en&x=5&y=7&z=3&s=G") or the map page's form with a query
// ("/vt?v=w2.97&hl=en&x=5&y=7&zoom=3"), or the path form of other tile
// services ("/tiles/map/3/5/7.png": layer, zoom, column, row), and the two
// WMTS forms of the layers of its capabilities document ("/wmts/rest/..."
// and "/wmts?REQUEST=GetTile&..."), whose tile matrices are named by zoom.
struct TileRequest {
    TileLayer layer = TileLayer::Map;
    int zoom = 0;
    int x = 0;
    int y = 0;
    std::string word; // the s= value, empty when absent
};

// Reads a tile request out of a request target (path and query, as sent).
// Nothing when the target is not a tile or lacks x, y or the zoom.
std::optional<TileRequest> ParseTileRequest(std::string_view target);

// The server number of a host name: the trailing digits of its first label
// ("mt2.google.localhost:8080" is 2, "khm0.google.localhost" is 0); -1 when
// the first label does not end in a digit.
int ServerNumberFromHost(std::string_view host);

// True when the tile lies on the world grid of its zoom (0 to 30).
bool TileOnGrid(const TileRequest& tile);

} // namespace demomap

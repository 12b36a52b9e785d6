#pragma once

#include <array>
#include <string>

namespace quiltara {

// The map layers, always processed in this order.
enum class MapLayer { Map = 0, Satellite = 1, Terrain = 2, Hybrid = 3 };

inline constexpr std::array<MapLayer, 4> kAllLayers = {MapLayer::Map, MapLayer::Satellite,
                                                       MapLayer::Terrain, MapLayer::Hybrid};

// Prefix of the layer's tile files and output image ("Map_", "Sat_", "Ter_", "Hyb_").
const char* LayerPrefix(MapLayer layer);

// The layer's name in messages and on the command line ("map", "satellite", "terrain", "hybrid").
const char* LayerName(MapLayer layer);

// Name of the settings value that stores the layer's source URL template.
const char* LayerSettingsName(MapLayer layer);

// "x=%iy=%izoom=%i.png": the tile's file name without the layer prefix.
std::string TileFileName(int column, int row, int zoom);

} // namespace quiltara

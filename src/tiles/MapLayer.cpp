#include "tiles/MapLayer.h"

#include "tiles/TextFormat.h"

namespace quiltara {

const char* LayerPrefix(MapLayer layer) {
    switch (layer) {
        case MapLayer::Map:
            return "Map_";
        case MapLayer::Satellite:
            return "Sat_";
        case MapLayer::Terrain:
            return "Ter_";
        case MapLayer::Hybrid:
            return "Hyb_";
    }
    return "";
}

const char* LayerName(MapLayer layer) {
    switch (layer) {
        case MapLayer::Map:
            return "map";
        case MapLayer::Satellite:
            return "satellite";
        case MapLayer::Terrain:
            return "terrain";
        case MapLayer::Hybrid:
            return "hybrid";
    }
    return "";
}

const char* LayerSettingsName(MapLayer layer) {
    switch (layer) {
        case MapLayer::Map:
            return "SourceURL_MAP";
        case MapLayer::Satellite:
            return "SourceURL_SAT";
        case MapLayer::Terrain:
            return "SourceURL_TER";
        case MapLayer::Hybrid:
            return "SourceURL_HYB";
    }
    return "";
}

std::string TileFileName(int column, int row, int zoom) {
    return FormatText("x=%iy=%izoom=%i.png", column, row, zoom);
}

} // namespace quiltara

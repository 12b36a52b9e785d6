#pragma once

#include <string>

namespace quiltara {

// What the location readout writes and the control panel shows and keeps:
// the Location Details texts, the map layer the last tile came from and the
// language code that later fills [HL] in tile URLs.
struct PanelValues {
    std::string xText = "Unknown";    // control 1000
    std::string yText = "Unknown";    // control 1001
    std::string zoomText = "Unknown"; // control 1003
    std::string detailsText;          // control 1002
    int detectedLayer = 0;            // 0 Maps, 1 Satellite, 2 Terrain
    std::string languageCode;         // upper case, as read from the tile URL

    bool operator==(const PanelValues&) const = default;
};

} // namespace quiltara

#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quiltara {

// A west, south, east, north box in degrees.
struct DegreeBox {
    double west = 0.0;
    double south = 0.0;
    double east = 0.0;
    double north = 0.0;
};

// One layer of an OGC WMTS service, as far as the stitch can use it.
struct WmtsLayer {
    std::string identifier;
    std::string title;
    // Why Quiltara cannot use it ("its tile matrix set 'UTM32' uses
    // EPSG:25832; ..."); empty when it can.
    std::string refusal;
    // The tile address with {x}, {y} and {z} (and the style, the matrix set
    // and each dimension's default filled in), in the REST form of its
    // ResourceURL or else the key-value form of the service's GetTile.
    std::string tileTemplate;
    bool keyValue = false;
    // By zoom, what {z} stands for, when the matrices are not named by their
    // zoom numbers ("EPSG:3857:5", "05"); empty when they are.
    std::vector<std::string> zoomNames;
    int minZoom = 0; // the matrices the layer offers, by the set's limits
    int maxZoom = 0;
    std::string format;    // of its tiles: "image/png"
    std::string matrixSet; // the tile matrix set it is read through
    std::optional<DegreeBox> bounds;

    bool Usable() const { return refusal.empty(); }
};

// What a capabilities document says of the service and its layers.
struct WmtsService {
    std::string title;
    std::string provider;     // ServiceProvider's name
    std::string providerSite; // its address
    std::string accessConstraints;
    std::vector<WmtsLayer> layers;

    const WmtsLayer* Find(std::string_view identifier) const;
};

// Reads a WMTS 1.0.0 capabilities document. location is where it came from
// (an http or https address, or a file), against which relative addresses
// in it are read. Nothing, with the reason in error, when the text is no
// capabilities document; a layer Quiltara cannot use is kept with its
// refusal, so that a listing can say why.
std::optional<WmtsService> ReadWmtsCapabilities(std::string_view xml, const std::string& location,
                                                std::string& error);

} // namespace quiltara

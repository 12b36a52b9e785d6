#pragma once

#include <string>

#include "tiles/TileGrid.h"

namespace quiltara {

// Where a stitched image lies on the Earth, in the six numbers of a world
// file: metres of WGS 84 / Pseudo-Mercator per pixel across and down (down is
// negative: rows run south), the two rotation terms (always 0 on the tile
// grid) and the centre of the top-left pixel.
struct WorldFileNumbers {
    double pixelWidth = 0.0;
    double rowRotation = 0.0;
    double columnRotation = 0.0;
    double pixelHeight = 0.0;
    double centreX = 0.0;
    double centreY = 0.0;
};

// The numbers for the image stitched from range at zoom, tile (xFirst,
// yFirst) at its top left, 256 pixels per tile.
WorldFileNumbers WorldFileFor(const TileRange& range, int zoom);

// The world file's text: the six numbers one per line, in the file's order.
std::string WorldFileText(const WorldFileNumbers& numbers);

// The projection file's text: WGS 84 / Pseudo-Mercator (EPSG:3857) as WKT.
const std::string& PseudoMercatorWkt();

// The image's name with its extension replaced by extension (".pgw"), or
// with extension added when the name has none or already ends in it.
std::string SidecarPath(const std::string& imagePath, const std::string& extension);

// Writes NAME.pgw and NAME.prj beside the image at imagePath, each under a
// temporary name in that folder first. false when either could not be
// written; a file that could not be completed is not left behind, and an
// earlier file of that name is removed (an earlier area's world file beside
// the new image would have GIS programs place it wrongly). failure, when
// given, receives the message that says what happened, in the run's words.
bool WriteGeoreference(const std::string& imagePath, const TileRange& range, int zoom,
                       std::string* failure = nullptr);

} // namespace quiltara

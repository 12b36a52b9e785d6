#pragma once

#include <string>

#include "stitch/StitchValues.h"

namespace quiltara {

// Writes the tile files of one layer, at every zoom from tiles.FirstZoom()
// down to tiles.zoom, into an MBTiles or GeoPackage file at path (by
// options.format), under a temporary name renamed over path once complete.
// The tiles go in as the server sent them. A tile file that is missing, or
// neither PNG nor JPEG (the formats both kinds of package hold), is left
// out and listed among the tile problems; when no tile at all goes in,
// nothing is written and an earlier file at path stays.
StreamedLayer WritePackageToFile(const LayerTiles& tiles, const std::string& path,
                                 const StreamingOptions& options);

} // namespace quiltara

#pragma once

#include <string>

#include "stitch/StitchValues.h"

namespace quiltara {

// The GeoTIFF output of the streaming stitcher: the layer's tiles as a tiled
// GeoTIFF with internal overviews and its place on the Earth, written under a
// temporary name beside path and renamed over it only when complete and when
// at least one tile went into it.
StreamedLayer StreamGeoTiffToFile(const LayerTiles& tiles, const std::string& path,
                                  const StreamingOptions& options);

} // namespace quiltara

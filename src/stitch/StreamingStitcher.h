#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "image/ByteStream.h"
#include "stitch/LayerStitcher.h"
#include "stitch/StitchValues.h"
#include "tiles/MapLayer.h"
#include "tiles/TileGrid.h"

namespace quiltara {

// Stitches a layer's tiles into one RGB PNG written to out as it is made, one
// row of tiles (a band of 256 pixel rows) at a time. The pixels are those of
// the in-memory stitcher's 24-bit image; the PNG carries the same chunks as
// the PNG codec writes for it. Memory stays at a few bands whatever the
// height. Decoding and compression run on the worker threads of options.
StreamedLayer StreamLayerImage(const LayerTiles& tiles, ByteStream& out,
                               const StreamingOptions& options);

// The same into the file at path, written under a temporary name beside it
// and renamed over path only when complete, and when at least one tile went
// into it (an image of no tile at all must not replace an earlier one). With
// options.format GeoTiff the file is a tiled GeoTIFF with internal overviews
// and the layer's place on the Earth (WGS 84 / Pseudo-Mercator) inside; its
// pixels at full resolution are the PNG's (over black), and layers whose
// tiles carry transparency get an alpha channel beside them (so the colour
// is premultiplied) that is 0 where the PNG stays black. With
// options.overlay Alpha the PNG of such a layer is RGBA instead.
StreamedLayer StreamLayerImageToFile(const LayerTiles& tiles, const std::string& path,
                                     const StreamingOptions& options);

// The save dialog's file types when the user picks the format there.
inline constexpr const char* kStreamedMapFileFilter =
    "PNG image (*.png)|*.png|GeoTIFF (*.tif)|*.tif|MBTiles (*.mbtiles)|*.mbtiles|"
    "GeoPackage (*.gpkg)|*.gpkg||";

// The format of a type of kStreamedMapFileFilter, by its place there (from 0).
ImageFileFormat SaveTypeFormat(int filterIndex);

// The layers of a run, each streamed into its file. The result carries each
// layer's tile problems and save error as the in-memory stitcher gives them,
// so the run reports them the same way.
class StreamingStitcher : public LayerStitcher {
public:
    // offerTypes: the save dialog offers PNG and GeoTIFF and the type chosen
    // there sets the format (the desktop program); otherwise options.format
    // holds (quiltara-make's --format).
    explicit StreamingStitcher(StreamingOptions options = {}, bool offerTypes = false)
        : options_(options), offerTypes_(offerTypes) {}

    std::string SaveFilter() const override;
    void UseSaveType(int filterIndex) override;
    const StreamingOptions& Options() const { return options_; }

    bool Streamed() const override { return true; }
    bool TakesZoomRange() const override { return IsPackage(options_.format); }

protected:
    bool StitchLayer(const LayerTiles& tiles, StitchedLayer& stitched, Prompts& prompts,
                     const CancelFlag* cancel) override;

private:
    StreamingOptions options_;
    bool offerTypes_;
};

} // namespace quiltara

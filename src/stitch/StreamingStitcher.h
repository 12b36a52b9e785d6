#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "image/ByteStream.h"
#include "image/DeflateParts.h"
#include "image/GeoTiffWriter.h"
#include "stitch/LayerStitcher.h"
#include "tiles/MapLayer.h"
#include "tiles/TileGrid.h"

namespace quiltara {

// What a streamed image is written as. Chosen by the user, never by the
// name's extension.
enum class ImageFileFormat { Png, GeoTiff };

struct StreamingOptions {
    ImageFileFormat format = ImageFileFormat::Png;
    int pngLevel = kDefaultDeflateLevel; // 0..9, or zlib's default as the PNG writer uses
    // GeoTIFF: how the tiles are compressed. Layers whose tiles carry
    // transparency keep it losslessly: their tiles are always deflated.
    TiffCompression tiffCompression = TiffCompression::Deflate;
    int jpegQuality = 75; // 1..100
    unsigned threads = 0; // 0: one per core
    // Room for the bands of decoded tiles: two bands in flight let the next
    // row of tiles be decoded while the current one is compressed; a band
    // too wide for two is worked on alone, decoding and compressing in turn.
    std::size_t bandMemory = std::size_t{40} << 20;
    // Rows are compressed in parts of about this many bytes: enough data that
    // a join costs nothing measurable, small enough that every core gets
    // several parts of each band.
    std::size_t partBytes = std::size_t{2} << 20;
    // Looked at as the work goes on: a stop ends the image unwritten.
    const CancelFlag* cancel = nullptr;
};

// The tile files of one layer: folder + layer prefix + tile name.
struct LayerTiles {
    std::string folder; // empty or ending with a separator
    MapLayer layer = MapLayer::Map;
    TileRange range;
    int zoom = 0;

    std::string FileName(int column, int row) const;
};

// What became of one layer's image.
struct StreamedLayer {
    bool bandsAllocated = false; // memory for the bands was there
    bool written = false;        // the whole image was written
    std::string error;           // why not
    bool noTilePlaced = false;   // no tile could be placed: the file was left as it was
    bool stopped = false;        // a stop came first: nothing was written
    // Tiles missing, unreadable or not 256 x 256, listed as the in-memory
    // stitcher lists them (columns left to right, each top to bottom).
    std::vector<TileProblem> tileProblems;
};

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
// pixels at full resolution are the PNG's, and layers whose tiles carry
// transparency get an alpha channel (colour premultiplied) that is 0 where
// the PNG stays black.
StreamedLayer StreamLayerImageToFile(const LayerTiles& tiles, const std::string& path,
                                     const StreamingOptions& options);

// The save dialog's file types when the user picks the format there.
inline constexpr const char* kStreamedMapFileFilter =
    "PNG image (*.png)|*.png|GeoTIFF (*.tif)|*.tif||";

// The layers of a run, each streamed into its file. The result carries each
// layer's tile problems and save error as Stitch() gives them, so the run
// reports them the same way.
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

    std::vector<StitchedLayer> StitchLayers(const std::string& outputFolder,
                                            const std::string& fileName,
                                            const MapSourcesValues& sources, const TileRange& range,
                                            int zoom, Prompts& prompts, ProgressSink& progress,
                                            const CancelFlag* cancel) override;

private:
    StreamingOptions options_;
    bool offerTypes_;
};

} // namespace quiltara

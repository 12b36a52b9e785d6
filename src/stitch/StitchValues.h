#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "image/DeflateParts.h"
#include "image/GeoTiffWriter.h"
#include "image/ImageMetadata.h"
#include "platform/CancelFlag.h"
#include "tiles/MapLayer.h"
#include "tiles/TileGrid.h"

namespace quiltara {

class CornerStamp;

// The folder of a layer's tiles and image: the output folder, then the
// subfolder and a separator when there is one. outputFolder is empty (the
// current folder) or ends with a separator.
std::string LayerFolder(const std::string& outputFolder, const std::string& subfolder);

// The stitched image of one layer: layer folder + layer prefix + chosen name.
std::string LayerImagePath(const std::string& outputFolder, const std::string& fileName,
                           MapLayer layer, const std::string& subfolder);

// The tile files of one layer: folder + layer prefix + tile name.
struct LayerTiles {
    std::string folder; // empty or ending with a separator
    MapLayer layer = MapLayer::Map;
    TileRange range;
    int zoom = 0;
    // A composite image: the tiles of this layer laid over those of `layer`.
    struct Overlay {
        std::string folder;
        MapLayer layer = MapLayer::Hybrid;
    };
    std::optional<Overlay> overlay;

    // A package's shallowest zoom (its tiles at every zoom from here to zoom
    // cover range); -1: zoom alone, as for every image.
    int firstZoom = -1;

    std::string FileName(int column, int row) const { return FileName(column, row, zoom); }
    std::string FileName(int column, int row, int atZoom) const;
    int FirstZoom() const { return firstZoom < 0 ? zoom : firstZoom; }
    // The files that make square (column, row), the lowest first.
    std::vector<std::string> PathsAt(int column, int row) const;
    int LayerCount() const { return overlay ? 2 : 1; }
};

// The prefix of a composite image: the base layer's prefix without its
// underscore, then the overlay's ("Sat_" and "Hyb_" make "SatHyb_").
std::string CompositePrefix(MapLayer base, MapLayer overlay);

// A composite image goes into the base layer's folder.
std::string CompositeImagePath(const std::string& outputFolder, const std::string& fileName,
                               MapLayer base, MapLayer overlay, const std::string& baseSubfolder);

// Whether a layer's image has transparent pixels to keep: the hybrid overlay
// has, and so has any layer whose first readable tile has transparent
// pixels. A composite is as transparent as its base layer.
bool LayerCarriesTransparency(const LayerTiles& tiles);

// What becomes of the transparent pixels of a layer's tiles: left black (and
// partly transparent ones mixed with black), or kept as the image's alpha
// channel, so that the image can be laid over another.
enum class OverlayOutput { Black, Alpha };

// A tile file of the range that did not go into the image as it came.
struct TileProblem {
    enum class Kind {
        Missing,    // no file under the tile's name: its square stays black
        Unreadable, // not an image the reader could load: its square stays black
        OffSize,    // an image, but not 256 x 256: placed in its square, clipped to it
    };
    std::string path;
    Kind kind = Kind::Missing;
    int width = 0; // OffSize: the tile's size
    int height = 0;
};

// What became of one enabled layer.
struct StitchedLayer {
    MapLayer layer = MapLayer::Map;  // a composite's base layer
    std::optional<MapLayer> overlay; // set for a composite image
    std::string path;
    bool created = false; // an output image could be made
    bool paletteMode = false;
    bool saved = false;         // the file was written
    std::string saveError;      // why it was not, when the image was made
    bool georeferenced = false; // the file holds its place itself (GeoTIFF)
    // No tile of the range went into the image: nothing was written, and an
    // earlier image of the name (and its world file) stays as it was.
    bool noTilePlaced = false;
    // The run was stopped while the image was being made: nothing was written.
    bool stopped = false;
    std::vector<TileProblem> tileProblems; // in the order the tiles were pasted
    // What became of the attribution asked for on the image, when the user
    // should know: wrapped, shortened or left off, and why. Empty otherwise.
    std::string stampNote;
    bool stampWhole = true; // the strip asked for holds all of the attribution
};

// Whether any tile of range went into a layer's image, given the tiles the
// stitch listed as problems (missing and unreadable ones were not placed);
// a composite has two layers of tiles.
bool AnyTilePlaced(const std::vector<TileProblem>& problems, const TileRange& range,
                   int layers = 1);

// What a streamed image is written as. Chosen by the user, never by the
// name's extension. The packages are no image: they hold the tiles as the
// server sent them, over a range of zooms.
enum class ImageFileFormat { Png, GeoTiff, Mbtiles, GeoPackage };

inline bool IsPackage(ImageFileFormat format) {
    return format == ImageFileFormat::Mbtiles || format == ImageFileFormat::GeoPackage;
}

struct StreamingOptions {
    ImageFileFormat format = ImageFileFormat::Png;
    int pngLevel = kDefaultDeflateLevel; // 0..9, or zlib's default as the PNG writer uses
    // GeoTIFF: how the tiles are compressed. Layers whose tiles carry
    // transparency keep it losslessly: their tiles are always deflated.
    TiffCompression tiffCompression = TiffCompression::Deflate;
    int jpegQuality = 75; // 1..100
    // PNG: layers with transparency as RGBA, or over black. A GeoTIFF keeps
    // their alpha either way, its colour premultiplied: the black image's.
    OverlayOutput overlay = OverlayOutput::Black;
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
    // The credit every file written carries.
    ImageMetadata metadata;
    // Drawn into the bands it lies in, before they are written; none: no strip.
    const CornerStamp* stamp = nullptr;
};

// What became of one layer's streamed image.
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

} // namespace quiltara

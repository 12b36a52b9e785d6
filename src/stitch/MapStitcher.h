#pragma once

#include <string>
#include <vector>

#include "platform/CancelFlag.h"
#include "platform/Prompts.h"
#include "sources/MapSourcesValues.h"
#include "tiles/MapLayer.h"
#include "tiles/ProgressSink.h"
#include "tiles/TileGrid.h"

namespace quiltara {

inline constexpr const char* kRgbModeFailedMessage =
    "Could not create output image in RGB mode.  Will try to create in 256 colour mode - but the "
    "image creation process may take a long time";

// The warning when neither image can be made: this text, the size, ": " and
// the image's error text.
inline constexpr const char* kPaletteModeFailedMessage =
    "Could not create output image in 256 colour mode.  This is most likely because of a memory "
    "limitation on your PC.  The image you are trying to create is";

// The folder of a layer's tiles and image: the output folder, then the
// subfolder and a separator when there is one. outputFolder is empty (the
// current folder) or ends with a separator.
std::string LayerFolder(const std::string& outputFolder, const std::string& subfolder);

// The stitched image of one layer: layer folder + layer prefix + chosen name.
std::string LayerImagePath(const std::string& outputFolder, const std::string& fileName,
                           MapLayer layer, const std::string& subfolder);

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
    MapLayer layer = MapLayer::Map;
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
};

// Builds one image per enabled layer, in layer order, from the tile files of
// range at zoom, and saves it as PNG data (whatever the chosen name's
// extension). When a 24-bit image cannot be made the layer falls back to a
// 256-colour image; when that fails too, the stitch stops there and the
// remaining layers get no image. Every tile goes into its own 256 x 256
// square, whatever its size (a smaller one fills the square from its top
// left corner, a larger one is clipped to the square); tiles that are
// missing or unreadable leave their square black. Each such tile is listed
// in the layer's tileProblems. A layer none of whose tiles could be placed
// gets no image at all (noTilePlaced): a black picture must not replace an
// earlier good one. The image is written under a temporary name
// and takes its own name only when complete, so a failed save leaves an
// earlier image of that name as it was. Messages go through prompts; the
// result lists every enabled layer.
// A stop (cancel) looked at between tiles ends the stitch: the layer under
// way and those after it are marked stopped and write nothing.
std::vector<StitchedLayer> Stitch(const std::string& outputFolder, const std::string& fileName,
                                  const MapSourcesValues& sources, const TileRange& range, int zoom,
                                  Prompts& prompts, ProgressSink& progress,
                                  const CancelFlag* cancel = nullptr);

// Whether any tile of range went into a layer's image, given the tiles the
// stitch listed as problems (missing and unreadable ones were not placed).
bool AnyTilePlaced(const std::vector<TileProblem>& problems, const TileRange& range);

// The message naming the tiles that did not go into the images as they
// came; empty when there are none. Long lists name the first ones and count
// the rest.
std::string TileProblemsText(const std::vector<TileProblem>& problems);

// The text shown when neither image of width x height pixels can be made.
std::string PaletteModeFailedText(long long width, long long height, const std::string& error);

} // namespace quiltara

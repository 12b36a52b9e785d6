#pragma once

#include <string>
#include <vector>

#include "platform/CancelFlag.h"
#include "platform/Prompts.h"
#include "sources/MapSourcesValues.h"
#include "stitch/LayerStitcher.h"
#include "stitch/StitchValues.h"
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

// The in-memory stitcher: each layer's image is made whole in memory and
// saved as PNG data (whatever the chosen name's extension). When a 24-bit
// image cannot be made the layer falls back to a 256-colour image; when that
// fails too, the stitch stops there and the remaining layers get no image.
// Every tile goes into its own 256 x 256 square, whatever its size (a smaller
// one fills the square from its top left corner, a larger one is clipped to
// the square); tiles that are missing or unreadable leave their square
// black. Each such tile is listed in the layer's tileProblems. A layer none
// of whose tiles could be placed gets no image at all (noTilePlaced): a black
// picture must not replace an earlier good one. The image is written under a
// temporary name and takes its own name only when complete, so a failed save
// leaves an earlier image of that name as it was. A stop is looked at between
// tiles.
// Tiles are laid over the image as their opacity says: over black, or,
// with OverlayOutput::Alpha, into an image whose alpha keeps the layer's
// transparency (the 256-colour image has none).
class InMemoryStitcher : public LayerStitcher {
public:
    explicit InMemoryStitcher(OverlayOutput overlay = OverlayOutput::Black) : overlay_(overlay) {}

    bool Streamed() const override { return false; }

protected:
    bool StitchLayer(const LayerTiles& tiles, StitchedLayer& stitched, Prompts& prompts,
                     const CancelFlag* cancel) override;

private:
    OverlayOutput overlay_;
};

// The in-memory stitcher's images of every enabled layer, in layer order.
std::vector<StitchedLayer> Stitch(const std::string& outputFolder, const std::string& fileName,
                                  const MapSourcesValues& sources, const TileRange& range, int zoom,
                                  Prompts& prompts, ProgressSink& progress,
                                  const CancelFlag* cancel = nullptr);

// The message naming the tiles that did not go into the images as they
// came; empty when there are none. Long lists name the first ones and count
// the rest.
std::string TileProblemsText(const std::vector<TileProblem>& problems);

// The text shown when neither image of width x height pixels can be made.
std::string PaletteModeFailedText(long long width, long long height, const std::string& error);

} // namespace quiltara

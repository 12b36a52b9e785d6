#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/CancelFlag.h"
#include "platform/Prompts.h"
#include "sources/MapSourcesValues.h"
#include "stitch/AttributionStamp.h"
#include "stitch/StitchValues.h"
#include "tiles/ProgressSink.h"
#include "tiles/TileGrid.h"

namespace quiltara {

// How a create-map run turns the tiles of every enabled layer into that
// layer's image, once all downloads are done: in memory, or streamed band by
// band. The walk over the layers, with its progress and its stop, is this
// class's; each stitcher makes one layer's image.
class LayerStitcher {
public:
    virtual ~LayerStitcher() = default;

    // One entry per enabled layer, in layer order, each image made from the
    // tile files of range at zoom in the layer's folder, then one per
    // composite of sources.publish whose two layers are enabled, the
    // overlay's tiles laid over the base's, in the base's folder; messages through
    // prompts. A stop through cancel (may be null), looked at before each
    // layer and by the stitcher as it works, ends it: the layer under way and
    // those after it are marked stopped and write nothing. firstZoom: the
    // shallowest zoom of a stitcher that TakesZoomRange() (-1: zoom alone).
    std::vector<StitchedLayer> StitchLayers(const std::string& outputFolder,
                                            const std::string& fileName,
                                            const MapSourcesValues& sources, const TileRange& range,
                                            int zoom, Prompts& prompts, ProgressSink& progress,
                                            const CancelFlag* cancel, int firstZoom = -1);

    // The save dialog's filter when the user chooses the file type there;
    // empty keeps the classic dialog, whose files are PNG.
    virtual std::string SaveFilter() const { return {}; }
    // The type chosen in the save dialog: its place in SaveFilter(), from 0.
    virtual void UseSaveType(int /*filterIndex*/) {}
    // Whether the images go to their files band by band, so that a map of
    // any size needs only a few bands of memory.
    virtual bool Streamed() const = 0;
    // Whether it makes packages of the tiles over a range of zooms (the
    // run then fetches every zoom of the range) rather than images of one.
    virtual bool TakesZoomRange() const { return false; }

    // The credit every image made from now on carries; drawn on them too when
    // a run's sources ask for it (publish.stampAttribution). Until it is
    // given, images carry no text of their own.
    void UseCredit(ImageCredit credit) { credit_ = std::move(credit); }

protected:
    // What one layer's image carries: its metadata, made now, and the strip
    // when the run asks for one (what the user should know of the strip goes
    // into stitched.stampNote).
    struct LayerCredit {
        ImageMetadata metadata;
        std::optional<CornerStamp> stamp;
    };
    LayerCredit CreditFor(const LayerTiles& tiles, StitchedLayer& stitched) const;

    // Makes the image of tiles at stitched.path (its layer and path are set)
    // and notes there what became of it. False when the layers after this
    // one are not to be tried: they are listed without an image.
    virtual bool StitchLayer(const LayerTiles& tiles, StitchedLayer& stitched, Prompts& prompts,
                             const CancelFlag* cancel) = 0;

private:
    std::optional<ImageCredit> credit_;
    bool stamping_ = false; // the run under way asks for the strip
};

} // namespace quiltara

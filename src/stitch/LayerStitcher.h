#pragma once

#include <string>
#include <vector>

#include "platform/Prompts.h"
#include "sources/MapSourcesValues.h"
#include "stitch/MapStitcher.h"
#include "tiles/ProgressSink.h"
#include "tiles/TileGrid.h"

namespace quiltara {

// How a create-map run turns the tiles of every enabled layer into that
// layer's image, once all downloads are done. A front end that wants another
// way than the in-memory stitcher passes one of these to the run.
class LayerStitcher {
public:
    virtual ~LayerStitcher() = default;

    // The same inputs and result as Stitch(): one entry per enabled layer, in
    // layer order; messages through prompts; a stop through cancel (may be
    // null) ends it, the layers not finished marked stopped.
    virtual std::vector<StitchedLayer> StitchLayers(const std::string& outputFolder,
                                                    const std::string& fileName,
                                                    const MapSourcesValues& sources,
                                                    const TileRange& range, int zoom,
                                                    Prompts& prompts, ProgressSink& progress,
                                                    const CancelFlag* cancel) = 0;

    // The save dialog's filter when the user chooses the file type there;
    // empty keeps the classic dialog, whose files are PNG.
    virtual std::string SaveFilter() const { return {}; }
    // The type chosen in the save dialog: its place in SaveFilter(), from 0.
    virtual void UseSaveType(int /*filterIndex*/) {}
};

} // namespace quiltara

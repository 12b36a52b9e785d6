#include "stitch/LayerStitcher.h"

#include <algorithm>

namespace quiltara {

std::vector<StitchedLayer> LayerStitcher::StitchLayers(const std::string& outputFolder,
                                                       const std::string& fileName,
                                                       const MapSourcesValues& sources,
                                                       const TileRange& range, int zoom,
                                                       Prompts& prompts, ProgressSink& progress,
                                                       const CancelFlag* cancel) {
    std::vector<StitchedLayer> result;
    bool goOn = true;
    for (MapLayer layer : kAllLayers) {
        const LayerSource& source = sources[layer];
        if (!source.download) {
            continue;
        }
        StitchedLayer stitched;
        stitched.layer = layer;
        stitched.path = LayerImagePath(outputFolder, fileName, layer, source.subfolder);
        if (cancel != nullptr && cancel->Requested()) {
            stitched.stopped = true;
            result.push_back(stitched);
            continue;
        }
        if (!goOn) {
            result.push_back(stitched);
            continue;
        }
        progress.StitchStarted(layer, stitched.path);
        const LayerTiles tiles{LayerFolder(outputFolder, source.subfolder), layer, range, zoom, {}};
        goOn = StitchLayer(tiles, stitched, prompts, cancel);
        result.push_back(stitched);
        progress.StitchFinished(layer, stitched.path, stitched.saved);
    }
    std::vector<CompositeLayers> made;
    for (const CompositeLayers& composite : sources.publish.composites) {
        const MapLayer base = composite.base;
        if (composite.base == composite.overlay || !sources.IsDownloaded(base) ||
            !sources.IsDownloaded(composite.overlay) ||
            std::find(made.begin(), made.end(), composite) != made.end()) {
            continue; // the run refuses such a choice before anything is fetched
        }
        made.push_back(composite);
        StitchedLayer stitched;
        stitched.layer = base;
        stitched.overlay = composite.overlay;
        stitched.path = CompositeImagePath(outputFolder, fileName, base, composite.overlay,
                                           sources[base].subfolder);
        if (cancel != nullptr && cancel->Requested()) {
            stitched.stopped = true;
        } else if (goOn) {
            progress.StitchStarted(base, stitched.path);
            const LayerTiles tiles{
                LayerFolder(outputFolder, sources[base].subfolder), base, range, zoom,
                LayerTiles::Overlay{LayerFolder(outputFolder, sources[composite.overlay].subfolder),
                                    composite.overlay}};
            goOn = StitchLayer(tiles, stitched, prompts, cancel);
            // The tiles are those of the two layers' own images, which name them.
            stitched.tileProblems.clear();
            progress.StitchFinished(base, stitched.path, stitched.saved);
        }
        result.push_back(stitched);
    }
    return result;
}

} // namespace quiltara

#include "stitch/LayerStitcher.h"

namespace quiltara {

std::vector<StitchedLayer> LayerStitcher::StitchLayers(const std::string& outputFolder,
                                                       const std::string& fileName,
                                                       const MapSourcesValues& sources,
                                                       const TileRange& range, int zoom,
                                                       Prompts& prompts, ProgressSink& progress,
                                                       const CancelFlag* cancel, int firstZoom) {
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
        const LayerTiles tiles{LayerFolder(outputFolder, source.subfolder), layer, range, zoom,
                               TakesZoomRange() ? firstZoom : -1};
        goOn = StitchLayer(tiles, stitched, prompts, cancel);
        result.push_back(stitched);
        progress.StitchFinished(layer, stitched.path, stitched.saved);
    }
    return result;
}

} // namespace quiltara
